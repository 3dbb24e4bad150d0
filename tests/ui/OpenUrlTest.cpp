#include "ui/OpenUrl.h"

#include "UiTestSupport.h"
#include "ui/MessageBox.h"

#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

struct CompletionCase {
    const char* name;
    QString address;
    std::optional<QString> completed;
};

TEST(OpenUrlTest, CompletesOnlyWithThePlainWebPrefix) {
    const CompletionCase cases[] = {
        {"AlreadyComplete", QStringLiteral("http://example.org/a.html"),
         QStringLiteral("http://example.org/a.html")},
        {"ServerNameAndPage", QStringLiteral("intranet/a/b.html?x=1"),
         QStringLiteral("http://intranet/a/b.html?x=1")},
        {"CapitalScheme", QStringLiteral("HTTP://example.org/"),
         QStringLiteral("http://HTTP://example.org/")},
        {"SecureScheme", QStringLiteral("https://example.org/"),
         QStringLiteral("http://https://example.org/")},
        {"HostOnly", QStringLiteral("www.example.org"), QStringLiteral("http://www.example.org")},
        {"HostWithPort", QStringLiteral("example.org:8080/x"), QStringLiteral("http://example.org:8080/x")},
        {"PercentEncoded", QStringLiteral("example.org/a%20b"), QStringLiteral("http://example.org/a%20b")},
        {"Umlaut", QStringLiteral("example.org/M\u00E4rz"), QStringLiteral("http://example.org/M\u00E4rz")},
        {"Empty", QString(), std::nullopt},
        {"PrefixOnly", QStringLiteral("http://"), std::nullopt},
        {"Blank", QStringLiteral("example.org/a b"), std::nullopt},
        {"DoubleQuote", QStringLiteral("example.org/\"x"), std::nullopt},
        {"Apostrophe", QStringLiteral("example.org/'x"), std::nullopt},
        {"AngleBrackets", QStringLiteral("example.org/<script>"), std::nullopt},
        {"Backslash", QStringLiteral("example.org\\share"), std::nullopt},
        {"Backtick", QStringLiteral("example.org/`id`"), std::nullopt},
        {"Pipe", QStringLiteral("example.org/a|b"), std::nullopt},
        {"Tab", QStringLiteral("example.org/\ta"), std::nullopt},
        {"LineFeed", QStringLiteral("example.org/\nSet-Cookie:x"), std::nullopt},
        {"Escape", QStringLiteral("example.org/\x1b[31m"), std::nullopt},
        {"Delete", QStringLiteral("example.org/\x7f"), std::nullopt},
        {"C1Control", QStringLiteral("example.org/\u009b"), std::nullopt},
        {"NoBreakSpace", QStringLiteral("example.org/\u00a0"), std::nullopt},
        {"BidiOverride", QStringLiteral("example.org/\u202e"), std::nullopt},
        {"BadPort", QStringLiteral("javascript:alert(1)"), std::nullopt},
    };
    for (const CompletionCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CompleteUrl(c.address), c.completed);
    }
}

TEST(OpenUrlTest, HandsTheCompletedAddressToTheDesktop) {
    test::App();
    MessageBox::Reset();
    test::RecordingOpener opener;
    EXPECT_EQ(OpenUrl(nullptr, QStringLiteral("intranet/a/b.html?x=1")), OpenUrlOutcome::Handed);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0].toString(), QStringLiteral("http://intranet/a/b.html?x=1"));
    EXPECT_TRUE(MessageBox::Recorded().empty());
}

TEST(OpenUrlTest, RefusesAnUnsafeAddressWithAnErrorAndOpensNothing) {
    test::App();
    MessageBox::Reset();
    test::RecordingOpener opener;
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_EQ(OpenUrl(nullptr, QStringLiteral("example.org/\x1b]0;x a")), OpenUrlOutcome::Refused);
    EXPECT_TRUE(opener.opened.empty());
    ASSERT_EQ(MessageBox::Recorded().size(), 1u);
    EXPECT_EQ(MessageBox::Recorded()[0].kind, MessageBox::Kind::Error);
    EXPECT_EQ(MessageBox::Recorded()[0].title, QStringLiteral("Fehler"));
    // The control character is shown as a symbol, not passed on.
    EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QStringLiteral("example.org/\u241b]0;x a")));
    MessageBox::Reset();
}

} // namespace
} // namespace kavel::ui
