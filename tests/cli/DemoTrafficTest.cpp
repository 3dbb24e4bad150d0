#include "cli/DemoTraffic.h"

#include "base/DefinitionFile.h"
#include "parsing/AlertRules.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kavel::cli {
namespace {

using namespace std::chrono_literals;
using test::ReadBytes;
using test::TempFolder;

TEST(DemoTraffic, WorkspaceCarriesTheTwoDemoAlertsAndKeepsTheUsersOwn) {
    TempFolder home;
    CreateDemoHome(home.Path());
    AlertRuleList rules;
    EXPECT_EQ(LoadAlertRules(home / "kavel.alerts", rules).Count, 0u);
    ASSERT_EQ(rules.Count(), 2u);
    EXPECT_EQ(AlertRuleLine(rules[0]).substr(0, 38), "Serverfehler;*;status:5xx;3;5;10;1;not");
    EXPECT_EQ(rules[1].Server, "www.demo.example");
    EXPECT_EQ(rules[1].Condition.Kind, AlertConditionKind::RateBelow);
    EXPECT_EQ(rules[1].WindowMinutes, 2);

    test::WriteBytes(home / "kavel.alerts", "mine;*;rate:above;9;1;0;1;;\r\n");
    CreateDemoHome(home.Path());
    EXPECT_EQ(ReadBytes(home / "kavel.alerts"), "mine;*;rate:above;9;1;0;1;;\r\n");
}

TEST(DemoTraffic, IncidentsOnRequestOnly) {
    TempFolder home;
    const DemoHome demo = CreateDemoHome(home.Path());
    DemoTraffic traffic(demo, 7);
    EXPECT_FALSE(traffic.Silent(60s));
    traffic.SetIncidents({true, true});
    EXPECT_FALSE(traffic.Silent(29999ms));
    EXPECT_TRUE(traffic.Silent(30s));
    EXPECT_TRUE(traffic.Silent(209999ms));
    EXPECT_FALSE(traffic.Silent(210s));

    const std::size_t before = ReadBytes(demo.NcsaLog).size();
    traffic.WriteErrorBurst();
    std::istringstream added(ReadBytes(demo.NcsaLog).substr(before));
    int errors = 0;
    for (std::string line; std::getline(added, line);) {
        EXPECT_TRUE(line.find("\" 500 ") != std::string::npos || line.find("\" 503 ") != std::string::npos)
            << line;
        ++errors;
    }
    EXPECT_GE(errors, 3);
}

} // namespace
} // namespace kavel::cli
