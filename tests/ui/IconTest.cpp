#include "ui/Icon.h"

#include "acquisition/AccessSummary.h"
#include "acquisition/Server.h"
#include "parsing/AccessRecord.h"
#include "parsing/SuspiciousRequests.h"

#include <gtest/gtest.h>
#include <utility>

namespace kavel {
namespace {

// What the core tells of an access, a server or an agent group, as the user sees it.
TEST(IconTest, EachKindShowsItsImage) {
    const std::pair<VisitorMark, Icon> visitors[] = {
        {VisitorMark::None, Icon::None},           {VisitorMark::New, Icon::NewVisitor},
        {VisitorMark::Spider, Icon::Spider},       {VisitorMark::Known, Icon::KnownVisitor},
        {VisitorMark::Revisitor, Icon::Revisitor}, {VisitorMark::Buddy, Icon::Buddy}};
    for (const auto& [visitor, icon] : visitors)
        EXPECT_EQ(IconOf(visitor), icon) << static_cast<int>(visitor);

    const std::pair<BrowserKind, Icon> browsers[] = {
        {BrowserKind::Msie, Icon::BrowserMsie},     {BrowserKind::Firefox, Icon::BrowserFirefox},
        {BrowserKind::Opera, Icon::BrowserOpera},   {BrowserKind::Other, Icon::BrowserOther},
        {BrowserKind::Safari, Icon::BrowserSafari}, {BrowserKind::Neon, Icon::BrowserNeon}};
    for (const auto& [browser, icon] : browsers) {
        EXPECT_EQ(IconOf(browser), icon) << static_cast<int>(browser);
        // The agents panel shows a browser's group with the browser's image, every spider with
        // the spider's.
        EXPECT_EQ(IconOf(AgentGroupOf(false, browser)), icon) << static_cast<int>(browser);
        EXPECT_EQ(IconOf(AgentGroupOf(true, browser)), Icon::Spider) << static_cast<int>(browser);
    }

    const std::pair<SuspicionKind, Icon> suspicions[] = {
        {SuspicionKind::Request, Icon::SuspiciousRequest},
        {SuspicionKind::Unauthorized, Icon::SuspiciousUnauthorized},
        {SuspicionKind::Status, Icon::SuspiciousStatus},
        {SuspicionKind::Several, Icon::SuspiciousSeveral},
        {SuspicionKind::Spider, Icon::Spider}};
    for (const auto& [kind, icon] : suspicions)
        EXPECT_EQ(IconOf(kind), icon) << static_cast<int>(kind);

    EXPECT_EQ(StatusIcon(false), Icon::StatusOk);
    EXPECT_EQ(StatusIcon(true), Icon::StatusError);
}

// A node keeps one image while selected where it has no image of its own for that.
TEST(IconTest, ServerNodesShowTheirStatus) {
    using Images = std::pair<Icon, Icon>;
    EXPECT_EQ(NodeIconsOf(ServerStatus::Idle), Images(Icon::ServerIdle, Icon::ServerIdleSelected));
    EXPECT_EQ(NodeIconsOf(ServerStatus::Reading), Images(Icon::ServerReading, Icon::ServerReadingSelected));
    EXPECT_EQ(NodeIconsOf(ServerStatus::Paused), Images(Icon::ServerPaused, Icon::ServerPaused));
    EXPECT_EQ(NodeIconsOf(ServerStatus::Missing), Images(Icon::ServerMissing, Icon::ServerMissing));
}

// The visitor column sorts by image: page elements first, then new visitors, spiders, known
// visitors, revisitors and buddies.
TEST(IconTest, VisitorImagesSortInTheListsOrder) {
    const VisitorMark order[] = {VisitorMark::None,  VisitorMark::New,       VisitorMark::Spider,
                                 VisitorMark::Known, VisitorMark::Revisitor, VisitorMark::Buddy};
    for (std::size_t i = 1; i < std::size(order); ++i)
        EXPECT_LT(IconIndex(IconOf(order[i - 1])), IconIndex(IconOf(order[i]))) << i;
}

} // namespace
} // namespace kavel
