#include "ui/OpenUrl.h"

#include "UiTestSupport.h"
#include "ui/MessageBox.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <string_view>

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

struct ObjectCase {
    const char* name;
    std::string_view server;
    std::string_view page;
    // Empty: refused.
    const char* address;
};

// "Objekt öffnen": the server's name is the host, whatever the page from the log holds.
TEST(OpenUrlTest, AnObjectAddressKeepsTheServersHostWhateverThePage) {
    test::App();
    const ObjectCase cases[] = {
        {"PathAndQuery", "intranet", "/a/b.html?x=1", "http://intranet/a/b.html?x=1"},
        {"Root", "www.example.com", "/", "http://www.example.com/"},
        {"UserInfoTrick", "www.example.com", "@evil.example/at.html", ""},
        {"HostSuffixTrick", "www.example.com", ".evil.example/x", ""},
        {"PortAndUserInfoTrick", "www.example.com", ":631@localhost/", ""},
        {"NoSlash", "www.example.com", "index.html", ""},
        {"Empty", "www.example.com", "", ""},
        {"AtInsideThePath", "www.example.com", "/x@evil.example/", "http://www.example.com/x@evil.example/"},
        {"DoubleSlash", "www.example.com", "//evil.example/x", "http://www.example.com//evil.example/x"},
        {"Backslashes", "www.example.com", "/\\\\evil.example\\x",
         "http://www.example.com/%5C%5Cevil.example%5Cx"},
        {"HashIsNoFragment", "www.example.com", "/a#b?c#d", "http://www.example.com/a%23b?c%23d"},
        {"BlankAndQuotes", "www.example.com", "/a b\"c'd", "http://www.example.com/a%20b%22c%27d"},
        {"EscapesKept", "www.example.com", "/a%20b%zz", "http://www.example.com/a%20b%25zz"},
        {"TrailingPercent", "www.example.com", "/a%2", "http://www.example.com/a%252"},
        {"Utf8Bytes", "www.example.com", "/M\xC3\xA4rz", "http://www.example.com/M%C3%A4rz"},
        {"ControlBytes", "www.example.com", "/\x1b[31m\r\n", "http://www.example.com/%1B%5B31m%0D%0A"},
        {"QuestionMarksInQuery", "www.example.com", "/s?q=a?b&c=/d", "http://www.example.com/s?q=a?b&c=/d"},
        {"ServerWithPort", "localhost:8080", "/x", "http://localhost:8080/x"},
        {"ServerIPv6WithPort", "[::1]:8080", "/x", "http://[::1]:8080/x"},
        {"ServerBadPort", "localhost:http", "/x", ""},
        {"ServerPortOutOfRange", "localhost:70000", "/x", ""},
        {"ServerWithBlank", "www example com", "/x", ""},
        {"ServerWithUserInfo", "user@www.example.com", "/x", ""},
        {"ServerEmpty", "", "/x", ""},
    };
    for (const ObjectCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QUrl> url = ObjectUrl(c.server, c.page);
        if (*c.address == '\0') {
            EXPECT_FALSE(url.has_value()) << url->toString(QUrl::FullyEncoded).toStdString();
            continue;
        }
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->toString(QUrl::FullyEncoded).toStdString(), c.address);
        EXPECT_EQ(url->host(), QUrl(QString::fromLatin1(c.address)).host());
    }
}

struct RefererCase {
    const char* name;
    std::string_view referer;
    const char* address;
};

// "Referenzseite öffnen" opens what the log names, but only a web address.
TEST(OpenUrlTest, AReferringPageOpensOnlyAsAnHttpOrHttpsAddress) {
    test::App();
    const RefererCase cases[] = {
        {"Http", "http://www.example.org/a.html?x=1", "http://www.example.org/a.html?x=1"},
        {"Https", "https://www.example.org/", "https://www.example.org/"},
        {"CapitalScheme", "HTTPS://www.example.org/", "https://www.example.org/"},
        {"WithPort", "http://www.example.org:8080/", "http://www.example.org:8080/"},
        {"None", "-", ""},
        {"Empty", "", ""},
        {"NoScheme", "www.example.org/a.html", ""},
        {"NoHost", "http://", ""},
        {"File", "file:///etc/passwd", ""},
        {"Script", "javascript:alert(1)", ""},
        {"Ftp", "ftp://www.example.org/", ""},
        {"Blank", "http://www.example.org/a b", ""},
        {"ControlByte", "http://www.example.org/\x1b", ""},
        {"Quote", "http://www.example.org/\"onmouseover", ""},
    };
    for (const RefererCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QUrl> url = RefererUrl(c.referer);
        if (*c.address == '\0') {
            EXPECT_FALSE(url.has_value()) << url->toString(QUrl::FullyEncoded).toStdString();
            continue;
        }
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->toString(QUrl::FullyEncoded).toStdString(), c.address);
    }
}

TEST(OpenUrlTest, TheUserIsToldWhenNothingOpensTheAddress) {
    test::App();
    MessageBox::Reset();
    DesktopOpener::SetHandler([](const QUrl&) { return false; });
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_EQ(OpenAddress(nullptr, QUrl(QStringLiteral("http://intranet/a.html"))),
              OpenUrlOutcome::NotOpened);
    DesktopOpener::SetHandler({});
    ASSERT_EQ(MessageBox::Recorded().size(), 1u);
    EXPECT_EQ(MessageBox::Recorded()[0].kind, MessageBox::Kind::Error);
    EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QStringLiteral("http://intranet/a.html")));
    MessageBox::Reset();
}

// xdg-open answers only after it was started: a failure then (no browser) still reaches the
// user, success says nothing.
TEST(OpenUrlTest, TheUserIsToldWhenTheDesktopFindsNoBrowserAfterwards) {
    test::App();
    struct Case {
        const char* program;
        std::size_t messages;
    };
    for (const Case& c : {Case{"false", 1}, Case{"true", 0}, Case{"/nonexistent/xdg-open", 1}}) {
        SCOPED_TRACE(c.program);
        MessageBox::Reset();
        const QString program = QString::fromLatin1(c.program).startsWith(QLatin1Char('/'))
                                    ? QString::fromLatin1(c.program)
                                    : QStandardPaths::findExecutable(QString::fromLatin1(c.program));
        ASSERT_FALSE(program.isEmpty());
        DesktopOpener::SetOpenCommand(program);
        MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
        EXPECT_EQ(OpenAddress(nullptr, QUrl(QStringLiteral("http://intranet/a.html"))),
                  OpenUrlOutcome::Handed);
        // The opener's answer arrives through the event loop; its process is gone afterwards.
        const bool answered = test::RunEventLoopUntil(
            [] { return QCoreApplication::instance()->findChildren<QProcess*>().isEmpty(); }, 10000);
        DesktopOpener::SetOpenCommand(std::nullopt);
        EXPECT_TRUE(answered);
        EXPECT_EQ(MessageBox::Recorded().size(), c.messages);
        if (c.messages > 0) {
            EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QStringLiteral("http://intranet/a.html")));
        }
        MessageBox::Reset();
    }
}

} // namespace
} // namespace kavel::ui
