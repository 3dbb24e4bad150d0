#include "ui/IconSet.h"

#include <QHash>

// Resources of a static library are not registered by themselves: the linker would drop the
// unreferenced initializer. Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kavel::ui {
namespace {

const char* FileStem(Icon icon) {
    switch (icon) {
    case Icon::AllServers:
        return "all-servers";
    case Icon::ServerIdle:
        return "server-active";
    case Icon::PageAccesses:
        return "accesses-page";
    case Icon::ServerIdleSelected:
        return "server-active-selected";
    case Icon::ServerMissing:
        return "server-missing";
    case Icon::NewVisitor:
        return "new-visitor";
    case Icon::Spider:
        return "spider";
    case Icon::KnownVisitor:
        return "known-visitor";
    case Icon::Revisitor:
        return "revisitor";
    case Icon::ServerReading:
        return "server-reading";
    case Icon::ServerReadingSelected:
        return "server-reading-selected";
    case Icon::OpenReferer:
        return "open-referer";
    case Icon::OpenObject:
        return "open-object";
    case Icon::StatusOk:
        return "status-ok";
    case Icon::StatusError:
        return "status-error";
    case Icon::BrowserMsie:
        return "browser-msie";
    case Icon::BrowserFirefox:
        return "browser-firefox";
    case Icon::BrowserOpera:
        return "browser-opera";
    case Icon::BrowserOther:
        return "browser-other";
    case Icon::BrowserSafari:
        return "browser-safari";
    case Icon::BrowserNeon:
        return "browser-neon";
    case Icon::SuspiciousUnauthorized:
        return "exception-unauthorized";
    case Icon::PageExceptions:
        return "exceptions-page";
    case Icon::SuspiciousRequest:
        return "exception-request";
    case Icon::SuspiciousStatus:
        return "exception-status";
    case Icon::SuspiciousSeveral:
        return "exception-several";
    case Icon::Quit:
        return "quit";
    case Icon::ServerPaused:
        return "server-suspended";
    case Icon::NoSpider:
        return "not-spider";
    case Icon::TrayQuit:
        return "tray-quit";
    case Icon::TrayRestore:
        return "tray-restore";
    case Icon::Buddy:
        return "buddy";
    case Icon::FindPreviousVisit:
        return "find-previous-visit";
    case Icon::Help:
        return "help";
    case Icon::None:
        break;
    }
    return "";
}

void EnsureResources() {
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
}

} // namespace

QString IconResourcePath(Icon icon) {
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1StringView(FileStem(icon)));
}

QIcon IconFor(Icon icon) {
    EnsureResources();
    static QHash<int, QIcon> cache;
    const int key = static_cast<int>(icon);
    auto found = cache.constFind(key);
    if (found != cache.constEnd()) {
        return *found;
    }
    // Built from the file name so that Qt picks the SVG icon engine, which renders sharply at
    // every device pixel ratio instead of scaling a 16x16 bitmap.
    QIcon built(IconResourcePath(icon));
    cache.insert(key, built);
    return built;
}

QIcon ApplicationIcon() {
    EnsureResources();
    static const QIcon icon(QStringLiteral(":/icons/kavel.svg"));
    return icon;
}

} // namespace kavel::ui
