#include "ui/DesktopOpener.h"

#include <QDesktopServices>
#include <utility>

namespace kavel::ui {
namespace {

DesktopOpener::Handler& InstalledHandler() {
    static DesktopOpener::Handler handler;
    return handler;
}

} // namespace

bool DesktopOpener::Open(const QUrl& url) {
    const Handler& handler = InstalledHandler();
    if (handler) {
        return handler(url);
    }
    return QDesktopServices::openUrl(url);
}

void DesktopOpener::SetHandler(Handler handler) {
    InstalledHandler() = std::move(handler);
}

} // namespace kavel::ui
