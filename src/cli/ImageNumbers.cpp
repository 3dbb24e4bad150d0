#include "ImageNumbers.h"

namespace kavel::cli {

int ImageNumber(VisitorMark visitor) {
    switch (visitor) {
    case VisitorMark::None:
        return -1;
    case VisitorMark::New:
        return 5;
    case VisitorMark::Spider:
        return 6;
    case VisitorMark::Known:
        return 7;
    case VisitorMark::Revisitor:
        return 8;
    case VisitorMark::Buddy:
        return 34;
    }
    return -1;
}

int ImageNumber(BrowserKind browser) {
    switch (browser) {
    case BrowserKind::Msie:
        return 16;
    case BrowserKind::Firefox:
        return 17;
    case BrowserKind::Opera:
        return 18;
    case BrowserKind::Other:
        return 19;
    case BrowserKind::Safari:
        return 20;
    case BrowserKind::Neon:
        return 21;
    }
    return 19;
}

int ImageNumber(SuspicionKind kind) {
    switch (kind) {
    case SuspicionKind::Request:
        return 24;
    case SuspicionKind::Unauthorized:
        return 22;
    case SuspicionKind::Status:
        return 25;
    case SuspicionKind::Several:
        return 26;
    case SuspicionKind::Spider:
        return 6;
    }
    return 24;
}

int ImageNumber(AgentGroup group) {
    switch (group) {
    case AgentGroup::Spider:
        return 6;
    case AgentGroup::Msie:
        return ImageNumber(BrowserKind::Msie);
    case AgentGroup::Firefox:
        return ImageNumber(BrowserKind::Firefox);
    case AgentGroup::Opera:
        return ImageNumber(BrowserKind::Opera);
    case AgentGroup::Other:
        return ImageNumber(BrowserKind::Other);
    case AgentGroup::Safari:
        return ImageNumber(BrowserKind::Safari);
    case AgentGroup::Neon:
        return ImageNumber(BrowserKind::Neon);
    }
    return ImageNumber(BrowserKind::Other);
}

int StatusImageNumber(bool error) {
    return error ? 15 : 14;
}

} // namespace kavel::cli
