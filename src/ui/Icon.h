#pragma once

#include <array>
#include <cstdint>
#include <utility>

namespace kavel {

enum class AgentGroup : std::uint8_t;
enum class BrowserKind : std::uint8_t;
enum class ServerStatus : std::uint8_t;
enum class SuspicionKind : std::uint8_t;
enum class VisitorMark : std::uint8_t;

// Roles of the small 16 x 16 images that the tree, the lists and the popup share. The values are
// the images' positions in the image list: the lists give them as their image role, and kavel-cli
// prints the same numbers (cli/ImageNumbers.h). They must not change.
enum class Icon : std::int8_t {
    None = -1,
    AllServers = 0,
    ServerIdle = 1,
    PageAccesses = 2,
    ServerIdleSelected = 3,
    ServerMissing = 4,
    NewVisitor = 5,
    Spider = 6,
    KnownVisitor = 7,
    Revisitor = 8,
    ServerReading = 10,
    ServerReadingSelected = 11,
    OpenReferer = 12,
    OpenObject = 13,
    StatusOk = 14,
    StatusError = 15,
    BrowserMsie = 16,
    BrowserFirefox = 17,
    BrowserOpera = 18,
    BrowserOther = 19,
    BrowserSafari = 20,
    BrowserNeon = 21,
    SuspiciousUnauthorized = 22,
    PageExceptions = 23,
    SuspiciousRequest = 24,
    SuspiciousStatus = 25,
    SuspiciousSeveral = 26,
    Quit = 28,
    ServerPaused = 29,
    NoSpider = 31,
    TrayQuit = 32,
    TrayRestore = 33,
    Buddy = 34,
    FindPreviousVisit = 35,
    Help = 36,
};

// The image's position in the image list, as stored and printed.
constexpr int IconIndex(Icon icon) noexcept {
    return static_cast<int>(icon);
}

// Every role, in ascending order; the gaps in the numbering have no image.
inline constexpr std::array AllIcons = {
    Icon::AllServers,
    Icon::ServerIdle,
    Icon::PageAccesses,
    Icon::ServerIdleSelected,
    Icon::ServerMissing,
    Icon::NewVisitor,
    Icon::Spider,
    Icon::KnownVisitor,
    Icon::Revisitor,
    Icon::ServerReading,
    Icon::ServerReadingSelected,
    Icon::OpenReferer,
    Icon::OpenObject,
    Icon::StatusOk,
    Icon::StatusError,
    Icon::BrowserMsie,
    Icon::BrowserFirefox,
    Icon::BrowserOpera,
    Icon::BrowserOther,
    Icon::BrowserSafari,
    Icon::BrowserNeon,
    Icon::SuspiciousUnauthorized,
    Icon::PageExceptions,
    Icon::SuspiciousRequest,
    Icon::SuspiciousStatus,
    Icon::SuspiciousSeveral,
    Icon::Quit,
    Icon::ServerPaused,
    Icon::NoSpider,
    Icon::TrayQuit,
    Icon::TrayRestore,
    Icon::Buddy,
    Icon::FindPreviousVisit,
    Icon::Help,
};

// The role behind a stored image number, or false when the number has no image (-1 means
// "no image" in the lists).
constexpr bool IconFromIndex(int index, Icon& icon) {
    for (Icon candidate : AllIcons) {
        if (static_cast<int>(candidate) == index) {
            icon = candidate;
            return true;
        }
    }
    return false;
}

// The image of what the core tells of an access, a server or an agent group. A page element
// marks no visitor: Icon::None.
Icon IconOf(VisitorMark visitor);
Icon IconOf(BrowserKind browser);
Icon IconOf(SuspicionKind kind);
Icon IconOf(AgentGroup group);
Icon StatusIcon(bool error);
// The node's image, and its image while selected.
std::pair<Icon, Icon> NodeIconsOf(ServerStatus status);

} // namespace kavel
