#pragma once

#include "ui/Icon.h"

#include <QIcon>
#include <QString>

namespace kavel::ui {

// The resource path of a role's image (":/icons/<name>.svg").
QString IconResourcePath(Icon icon);

// The image of a role, rendered from its SVG at whatever size and scale a view asks for.
// Built once per role and shared afterwards; main thread only.
QIcon IconFor(Icon icon);

// The program's own icon, for windows, the about box and the notification area.
QIcon ApplicationIcon();

} // namespace kavel::ui
