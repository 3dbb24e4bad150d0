#pragma once

#include <QIcon>

namespace kavel::ui {

// Tool bar pictures of the toggles that have no image role of their own. SVG, like the icon set.
enum class Glyph {
    RunServer,
    RealtimeMode,
    ShowOneAddress,
    HideNonDocuments,
    HideSpiders,
    HideWords,
    HideLocalReferers,
    ResolveDomains,
    ShowInfoTips,
};

QIcon ToolGlyph(Glyph glyph);

} // namespace kavel::ui
