#include "acquisition/FiredAlert.h"

#include "platform/LocaleFormat.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

constexpr DateTime Noon{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

FiredAlert Alert(const std::string& condition, std::uint64_t count, bool access) {
    FiredAlert alert;
    alert.Rule =
        ParseAlertRule("Fehler;*;" + condition + ";3;5;10;1;run;/usr/bin/logger -t kavel \"{rule}: {count}\"")
            .value();
    alert.Server = "www";
    alert.Count = count;
    alert.Time = Noon;
    if (access)
        alert.Access = AlertAccess{Noon, "192.0.2.7", "192.0.2.7", "GET", "/shop?id=1", 503};
    return alert;
}

TEST(FiredAlert, TextsNameRuleServerCountAndNewestAccess) {
    platform::FixedLocaleFormat locale;
    platform::SetCurrentLocaleFormat(&locale);
    const FiredAlert alert = Alert("status:5xx", 3, true);
    EXPECT_EQ(AlertSummary(alert), "Alarm Fehler auf www");
    EXPECT_EQ(AlertBody(alert), "3 Zugriffe mit Status 5xx in 5 Minuten\nNeuester Zugriff: " +
                                    platform::FormatDateTime(Noon) + " 192.0.2.7 GET /shop?id=1 503");
    EXPECT_EQ(AlertWhatHappened(Alert("rate:below", 1, false)), "Nur 1 Zugriff in 5 Minuten (weniger als 3)");
    EXPECT_EQ(AlertWhatHappened(Alert("exception:160,162", 4, true)),
              "4 Ausnahmen (Code 160, 162) in 5 Minuten");
    EXPECT_EQ(AlertBody(Alert("reader:missing", 5, false)),
              "Protokolldatei fehlt oder ist nicht lesbar seit 5 Minuten");
    platform::SetCurrentLocaleFormat(nullptr);
}

TEST(FiredAlert, ProcessSpecFillsArgumentsAndEnvironmentNotTheProgram) {
    FiredAlert alert = Alert("status:5xx", 3, true);
    alert.Rule.Command = "{page} --page={page} \"{rule} auf {server}\" {status} {unknown}";
    const auto request = AlertProcessRequest(alert);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Program, "{page}");
    EXPECT_EQ(request->Arguments,
              (std::vector<std::string>{"--page=/shop?id=1", "Fehler auf www", "503", "{unknown}"}));
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"KAVEL_RULE", "Fehler"},       {"KAVEL_SERVER", "www"},
        {"KAVEL_COUNT", "3"},           {"KAVEL_TIME", "2024-03-10 12:00:00"},
        {"KAVEL_ADDRESS", "192.0.2.7"}, {"KAVEL_PAGE", "/shop?id=1"},
        {"KAVEL_STATUS", "503"}};
    EXPECT_EQ(request->Environment, environment);
    // Without an access the access' placeholders are empty.
    alert.Access.reset();
    EXPECT_EQ(AlertProcessRequest(alert)->Arguments,
              (std::vector<std::string>{"--page=", "Fehler auf www", "", "{unknown}"}));
    alert.Rule.Command = "  ";
    EXPECT_FALSE(AlertProcessRequest(alert));
}

TEST(FiredAlert, SampleAlertForTestenFitsTheCondition) {
    AlertRule rule = ParseAlertRule("r;*;status:404;2;5;10;1;notify;").value();
    FiredAlert sample = SampleAlert(rule, "www", Noon);
    EXPECT_TRUE(sample.Test);
    EXPECT_EQ(sample.Count, 2u);
    ASSERT_TRUE(sample.Access);
    EXPECT_EQ(sample.Access->Status, 404);
    EXPECT_EQ(AlertSummary(sample), "Test: Alarm r auf www");
    rule.Condition.Kind = AlertConditionKind::RateBelow;
    EXPECT_FALSE(SampleAlert(rule, "www", Noon).Access);
    EXPECT_EQ(SampleAlert(rule, "www", Noon).Count, 0u);
}

} // namespace
} // namespace kavel
