#include "ui/ToolGlyphs.h"

#include "ui/IconSet.h"

namespace kavel::ui {
namespace {

const char* GlyphFile(Glyph glyph) {
    switch (glyph) {
    case Glyph::RunServer:
        return "run-server";
    case Glyph::RealtimeMode:
        return "realtime-mode";
    case Glyph::ShowOneAddress:
        return "show-one-address";
    case Glyph::HideNonDocuments:
        return "hide-non-documents";
    case Glyph::HideSpiders:
        return "hide-spiders";
    case Glyph::HideWords:
        return "hide-words";
    case Glyph::HideLocalReferers:
        return "hide-local-referers";
    case Glyph::ResolveDomains:
        return "resolve-domains";
    case Glyph::ShowInfoTips:
        return "show-info-tips";
    }
    return "";
}

} // namespace

QIcon ToolGlyph(Glyph glyph) {
    // The glyphs live in the icon set's resource file; asking for the program's icon
    // registers it.
    ApplicationIcon();
    return QIcon(QStringLiteral(":/glyphs/%1.svg").arg(QLatin1StringView(GlyphFile(glyph))));
}

} // namespace kavel::ui
