#include "parsing/AlertRules.h"

#include "platform/Clock.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <system_error>

namespace kavel {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

constexpr const char* IssueExample =
    R"(5xx;*;status:5xx;3;5;10;1;notify,run;/usr/bin/logger -t kavel "{rule} on {server}: {count}")";

TEST(ParseAlertRule, ReadsEveryFieldOfTheExample) {
    const std::optional<AlertRule> rule = ParseAlertRule(IssueExample);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->Name, "5xx");
    EXPECT_TRUE(rule->AllServers());
    EXPECT_EQ(rule->Condition.Kind, AlertConditionKind::Status);
    EXPECT_EQ(rule->Condition.StatusClass, 5);
    EXPECT_EQ(rule->Threshold, 3);
    EXPECT_EQ(rule->WindowMinutes, 5);
    EXPECT_EQ(rule->CooldownMinutes, 10);
    EXPECT_TRUE(rule->On);
    EXPECT_EQ(rule->Actions, (AlertActions{true, false, true}));
    EXPECT_EQ(rule->Command, R"(/usr/bin/logger -t kavel "{rule} on {server}: {count}")");
}

struct LineCase {
    const char* Name;
    std::string Line;
    bool Reads;
};

class ParseAlertRuleLines : public testing::TestWithParam<LineCase> {};

TEST_P(ParseAlertRuleLines, AcceptsWhatTheFormatAllowsAndNothingElse) {
    EXPECT_EQ(ParseAlertRule(GetParam().Line).has_value(), GetParam().Reads) << GetParam().Line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseAlertRuleLines,
    testing::Values(LineCase{"EightFieldsWithoutCommand", "n;*;rate:above;100;1;0;0;notify", true},
                    LineCase{"SevenFields", "n;*;rate:above;100;1;0;0", false},
                    LineCase{"EmptyActionsAndCommand", "n;web;rate:below;1;2;10;1;;", true},
                    LineCase{"SemicolonInsideQuotes", R"(n;*;status:404;1;1;0;1;run;/bin/sh -c "a; b")",
                             true},
                    LineCase{"FieldAfterTheCommand", "n;*;status:404;1;1;0;1;run;/bin/true;extra", false},
                    LineCase{"UnclosedQuote", R"(n;*;status:404;1;1;0;1;run;/bin/echo "a)", false},
                    LineCase{"StatusCode", "n;*;status:404;1;1;0;1;;", true},
                    LineCase{"StatusClassUpperCase", "n;*;STATUS:4XX;1;1;0;1;;", true},
                    LineCase{"StatusClassThreeXx", "n;*;status:3xx;1;1;0;1;;", false},
                    LineCase{"StatusTwoDigits", "n;*;status:99;1;1;0;1;;", false},
                    LineCase{"StatusFourDigits", "n;*;status:4040;1;1;0;1;;", false},
                    LineCase{"ExceptionCodes", "n;*;exception:160,162, 163;1;1;0;1;;", true},
                    LineCase{"ExceptionWithoutCode", "n;*;exception:;1;1;0;1;;", false},
                    LineCase{"ExceptionTrailingComma", "n;*;exception:160,;1;1;0;1;;", false},
                    LineCase{"MatchAddress", "n;*;match:address:203.0.113.;1;1;0;1;;", true},
                    LineCase{"MatchPageWithColon", "n;*;match:page:/a:b;1;1;0;1;;", true},
                    LineCase{"MatchEmptyPattern", "n;*;match:page:;1;1;0;1;;", false},
                    LineCase{"ReaderMissingZeroThresholdAndWindow", "n;*;reader:missing;0;0;0;1;;", true},
                    LineCase{"UnknownCondition", "n;*;latency:above;1;1;0;1;;", false},
                    LineCase{"ThresholdZero", "n;*;status:5xx;0;1;0;1;;", false},
                    LineCase{"ThresholdOne", "n;*;status:5xx;1;1;0;1;;", true},
                    LineCase{"ThresholdAboveRange", "n;*;status:5xx;1000001;1;0;1;;", false},
                    LineCase{"ThresholdNegative", "n;*;status:5xx;-3;1;0;1;;", false},
                    LineCase{"WindowZero", "n;*;status:5xx;1;0;0;1;;", false},
                    LineCase{"WindowOneWeek", "n;*;status:5xx;1;10080;0;1;;", true},
                    LineCase{"WindowOverOneWeek", "n;*;status:5xx;1;10081;0;1;;", false},
                    LineCase{"CooldownNotANumber", "n;*;status:5xx;1;1;x;1;;", false},
                    LineCase{"OnMinusOne", "n;*;status:5xx;1;1;0;-1;;", true},
                    LineCase{"OnTwo", "n;*;status:5xx;1;1;0;2;;", false},
                    LineCase{"UnknownAction", "n;*;status:5xx;1;1;0;1;notify,mail;", false},
                    LineCase{"ActionsWithBlanks", "n;*;status:5xx;1;1;0;1; beep , run ;x", true},
                    LineCase{"EmptyName", ";*;status:5xx;1;1;0;1;;", false},
                    LineCase{"EmptyServer", "n;;status:5xx;1;1;0;1;;", false},
                    LineCase{"BlanksAroundNumbers", "n;*;status:5xx; 3 ;5 ;10;1;;", true}),
    [](const testing::TestParamInfo<LineCase>& param) { return std::string(param.param.Name); });

TEST(AlertRuleLine, ReadsBackFieldForField) {
    std::vector<AlertRule> rules;
    AlertRule status;
    status.Name = "Fehler";
    status.Condition.StatusClass = 4;
    status.Actions = {true, true, false};
    rules.push_back(status);
    AlertRule code = status;
    code.Condition.StatusClass = 0;
    code.Condition.StatusCode = 503;
    code.Server = "www.example";
    code.On = false;
    code.Command = R"(/bin/echo "a; b" {page})";
    code.Actions.Run = true;
    rules.push_back(code);
    AlertRule exception;
    exception.Name = "Angriff";
    exception.Condition.Kind = AlertConditionKind::Exception;
    exception.Condition.ExceptionCodes = {160, 162, 902};
    exception.CooldownMinutes = 0;
    rules.push_back(exception);
    for (const auto kind :
         {AlertConditionKind::RateAbove, AlertConditionKind::RateBelow, AlertConditionKind::ReaderMissing}) {
        AlertRule rule;
        rule.Name = "r";
        rule.Condition.Kind = kind;
        rule.Threshold = 250;
        rule.WindowMinutes = 60;
        rules.push_back(rule);
    }
    AlertRule match;
    match.Name = "Muster";
    match.Condition.Kind = AlertConditionKind::MatchPage;
    match.Condition.Pattern = "/wp-login.php";
    rules.push_back(match);
    match.Condition.Kind = AlertConditionKind::MatchAddress;
    match.Condition.Pattern = "203.0.113.";
    rules.push_back(match);

    for (const AlertRule& rule : rules) {
        const std::string line = AlertRuleLine(rule);
        EXPECT_EQ(ParseAlertRule(line), rule) << line;
        EXPECT_FALSE(AlertRuleProblem(rule)) << line;
    }
}

TEST(AlertRuleProblem, NamesWhatTheFileCannotHold) {
    AlertRule rule;
    rule.Name = "ok";
    EXPECT_FALSE(AlertRuleProblem(rule));
    const auto problem = [&rule](auto change) {
        AlertRule changed = rule;
        change(changed);
        return AlertRuleProblem(changed).has_value();
    };
    EXPECT_TRUE(problem([](AlertRule& r) { r.Name = " "; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Name = "a;b"; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Name = "#a"; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Server = "a\nb"; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Threshold = 0; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.WindowMinutes = 0; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.CooldownMinutes = -1; }));
    EXPECT_TRUE(problem([](AlertRule& r) {
        r.Condition.Kind = AlertConditionKind::MatchPage;
        r.Condition.Pattern = "a;b";
    }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Command = "/bin/echo a;b"; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Command = "/bin/echo \"a"; }));
    EXPECT_TRUE(problem([](AlertRule& r) { r.Actions.Run = true; }));
    EXPECT_FALSE(problem([](AlertRule& r) {
        r.Condition.Kind = AlertConditionKind::ReaderMissing;
        r.Threshold = 0;
        r.WindowMinutes = 0;
    }));
}

// A file as a user and an older or newer program left it.
const std::vector<std::string> HandWritten = {
    "# Alerts Definition File",
    "# This file was automatically generated by Kavel. Pleasy do not modify.",
    "# Last modification was at 01.01.2020 10:00:00",
    "# my own note",
    "Stille;www;rate:below;1;2;10;-1;notify;",
    "Neu;*;latency:above;100;5;10;1;notify;",
    "",
    "Fehler;*;status:5xx;3;5;10;1;notify,run;/usr/bin/logger {rule}",
    "kaputt",
    "Spitze;*;rate:above;1000;1;60;0;beep;",
};

TEST(AlertRuleList, KeepsUnreadableLinesAndCommentsInTheirPlaces) {
    AlertRuleList list;
    const UnreadLines unread = list.AssignLines(HandWritten);
    EXPECT_EQ(unread.Count, 2u);
    EXPECT_EQ(unread.FirstLine, 6u);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[0].Name, "Stille");
    EXPECT_EQ(list[2].Name, "Spitze");

    platform::ManualClock clock(*EncodeDateTime(2024, 3, 10, 12, 0, 0));
    platform::ScopedClock scoped(clock);
    const std::string header =
        DefinitionFileHeader("Alerts", true) + "\r\n" +
        "# Name;Server;Condition;Threshold;WindowMinutes;CooldownMinutes;On;Actions;Command\r\n";
    // Lines read are written back as they were ("-1" stays), the header is new.
    EXPECT_EQ(list.FileText(), header + "# my own note\r\n"
                                        "Stille;www;rate:below;1;2;10;-1;notify;\r\n"
                                        "Neu;*;latency:above;100;5;10;1;notify;\r\n"
                                        "Fehler;*;status:5xx;3;5;10;1;notify,run;/usr/bin/logger {rule}\r\n"
                                        "kaputt\r\n"
                                        "Spitze;*;rate:above;1000;1;60;0;beep;\r\n");

    // A changed rule is written anew; removing one keeps the lines that followed it after its
    // predecessor.
    list.SetOn(0, false);
    list.Remove(1);
    AlertRule added;
    added.Name = "Dazu";
    list.Add(added);
    EXPECT_EQ(list.FileText(), header + "# my own note\r\n"
                                        "Stille;www;rate:below;1;2;10;0;notify;\r\n"
                                        "Neu;*;latency:above;100;5;10;1;notify;\r\n"
                                        "kaputt\r\n"
                                        "Spitze;*;rate:above;1000;1;60;0;beep;\r\n"
                                        "Dazu;*;status:5xx;1;5;10;1;;\r\n");
    // Setting a rule to what it is keeps its line.
    list.Replace(1, list[1]);
    EXPECT_NE(list.FileText().find("Spitze;*;rate:above;1000;1;60;0;beep;\r\n"), std::string::npos);
}

TEST(AlertRuleList, FileRoundTripKeepsEveryLine) {
    TempFolder folder;
    std::string content;
    for (const std::string& line : HandWritten)
        content += line + "\r\n";
    WriteBytes(folder / "kavel.alerts", content);
    AlertRuleList list;
    const UnreadLines unread = LoadAlertRules(folder / "kavel.alerts", list);
    EXPECT_EQ(unread.Count, 2u);
    EXPECT_TRUE(list.Loaded());
    SaveAlertRules(folder / "kavel.alerts", list);
    const std::string written = ReadBytes(folder / "kavel.alerts");
    // Everything but the three header lines (the time is new, the column line added) comes back.
    for (std::size_t i = 3; i < HandWritten.size(); ++i) {
        if (!HandWritten[i].empty()) {
            EXPECT_NE(written.find("\r\n" + HandWritten[i] + "\r\n"), std::string::npos) << HandWritten[i];
        }
    }
    AlertRuleList again;
    LoadAlertRules(folder / "kavel.alerts", again);
    EXPECT_EQ(again.Items(), list.Items());
    EXPECT_EQ(again.FileText().substr(again.FileText().find("# my own")),
              list.FileText().substr(list.FileText().find("# my own")));
}

TEST(AlertRuleList, MissingFileIsEmptyUnreadableFileIsNeverWrittenOver) {
    TempFolder folder;
    AlertRuleList list;
    EXPECT_EQ(LoadAlertRules(folder / "kavel.alerts", list).Count, 0u);
    EXPECT_TRUE(list.Loaded());
    EXPECT_EQ(list.Count(), 0u);

    std::filesystem::create_directory(folder / "blocked");
    AlertRuleList blocked;
    EXPECT_THROW(LoadAlertRules(folder / "blocked", blocked), std::system_error);
    EXPECT_FALSE(blocked.Loaded());
    EXPECT_THROW(SaveAlertRules(folder / "blocked", blocked), std::logic_error);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "blocked"));
}

} // namespace
} // namespace kavel
