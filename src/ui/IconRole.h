#pragma once

#include <array>

namespace kavel {

// The roles of the small 16x16 images shared by the server tree, the lists, the popup and the
// access classification. The numbers are the images' positions in the list that the settings,
// the readers and the exception rules pass around, so they never change.
enum class Icon : int {
    AllServers = 0,
    ServerActive = 1,
    AccessesPage = 2,
    ServerActiveSelected = 3,
    ServerLogMissing = 4,
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
    ExceptionUnauthorized = 22,
    ExceptionsPage = 23,
    // A suspicious method or an executable request on its own.
    ExceptionRequest = 24,
    ExceptionStatus = 25,
    // A parent-path request, or several exception rules at once.
    ExceptionSeveral = 26,
    Quit = 28,
    ServerSuspended = 29,
    NotSpider = 31,
    TrayQuit = 32,
    TrayRestore = 33,
    Buddy = 34,
    FindPreviousVisit = 35,
    Help = 36,
};

// Every role, in ascending order; the gaps in the numbering have no image.
inline constexpr std::array AllIcons = {
    Icon::AllServers,
    Icon::ServerActive,
    Icon::AccessesPage,
    Icon::ServerActiveSelected,
    Icon::ServerLogMissing,
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
    Icon::ExceptionUnauthorized,
    Icon::ExceptionsPage,
    Icon::ExceptionRequest,
    Icon::ExceptionStatus,
    Icon::ExceptionSeveral,
    Icon::Quit,
    Icon::ServerSuspended,
    Icon::NotSpider,
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

} // namespace kavel
