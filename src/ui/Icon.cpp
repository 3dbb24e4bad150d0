#include "ui/Icon.h"

#include "acquisition/AccessSummary.h"
#include "acquisition/Server.h"
#include "parsing/AccessRecord.h"
#include "parsing/SuspiciousRequests.h"

namespace kavel {

Icon IconOf(VisitorMark visitor) {
    switch (visitor) {
    case VisitorMark::None:
        return Icon::None;
    case VisitorMark::New:
        return Icon::NewVisitor;
    case VisitorMark::Spider:
        return Icon::Spider;
    case VisitorMark::Known:
        return Icon::KnownVisitor;
    case VisitorMark::Revisitor:
        return Icon::Revisitor;
    case VisitorMark::Buddy:
        return Icon::Buddy;
    }
    return Icon::None;
}

Icon IconOf(BrowserKind browser) {
    switch (browser) {
    case BrowserKind::Msie:
        return Icon::BrowserMsie;
    case BrowserKind::Firefox:
        return Icon::BrowserFirefox;
    case BrowserKind::Opera:
        return Icon::BrowserOpera;
    case BrowserKind::Other:
        return Icon::BrowserOther;
    case BrowserKind::Safari:
        return Icon::BrowserSafari;
    case BrowserKind::Neon:
        return Icon::BrowserNeon;
    }
    return Icon::BrowserOther;
}

Icon IconOf(SuspicionKind kind) {
    switch (kind) {
    case SuspicionKind::Request:
        return Icon::SuspiciousRequest;
    case SuspicionKind::Unauthorized:
        return Icon::SuspiciousUnauthorized;
    case SuspicionKind::Status:
        return Icon::SuspiciousStatus;
    case SuspicionKind::Several:
        return Icon::SuspiciousSeveral;
    case SuspicionKind::Spider:
        return Icon::Spider;
    }
    return Icon::SuspiciousRequest;
}

Icon IconOf(AgentGroup group) {
    switch (group) {
    case AgentGroup::Spider:
        return Icon::Spider;
    case AgentGroup::Msie:
        return Icon::BrowserMsie;
    case AgentGroup::Firefox:
        return Icon::BrowserFirefox;
    case AgentGroup::Opera:
        return Icon::BrowserOpera;
    case AgentGroup::Other:
        return Icon::BrowserOther;
    case AgentGroup::Safari:
        return Icon::BrowserSafari;
    case AgentGroup::Neon:
        return Icon::BrowserNeon;
    }
    return Icon::BrowserOther;
}

Icon StatusIcon(bool error) {
    return error ? Icon::StatusError : Icon::StatusOk;
}

std::pair<Icon, Icon> NodeIconsOf(ServerStatus status) {
    switch (status) {
    case ServerStatus::Idle:
        return {Icon::ServerIdle, Icon::ServerIdleSelected};
    case ServerStatus::Reading:
        return {Icon::ServerReading, Icon::ServerReadingSelected};
    case ServerStatus::Paused:
        return {Icon::ServerPaused, Icon::ServerPaused};
    case ServerStatus::Missing:
        break;
    }
    return {Icon::ServerMissing, Icon::ServerMissing};
}

} // namespace kavel
