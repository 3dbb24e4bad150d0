#include "parsing/NameList.h"

#include "acquisition/Workspace.h"
#include "base/DefinitionFile.h"
#include "platform/Paths.h"
#include "support/ParsingSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>

using kavel::test::Space;

namespace kavel {
namespace {

class NameListTest : public testing::Test {
protected:
    // Whether page is a document access under the current list.
    bool IsDocument(std::string_view page) {
        NcsaRecord record;
        record.SetPage(page);
        record.AssignAddressPair("192.0.2.1", "192.0.2.1");
        ClassifyDocument(Space().Documents(), record);
        return record.IsDocument;
    }

    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
};

TEST_F(NameListTest, ExtensionRule) {
    const std::pair<const char*, const char*> cases[] = {
        {"/index.html", ".html"},
        {"/a.php?id=5", ".php?id=5"},
        {"/a.php?v=1.2", ".2"},
        {"/dir.old/file", ".old/file"},
        {"/", ""},
        {"/news/", ""},
        {"/a.php?u=http://x/b", ""},
        {"C:\\web\\default.ASP", ".ASP"},
        {"\\a.b\\c", ""},
        {"", ""},
        {"file.", "."},
    };
    for (const auto& [page, extension] : cases)
        EXPECT_EQ(DocumentExtension(page), extension) << page;
}

TEST_F(NameListTest, ClassifyDocument) {
    EXPECT_FALSE(IsDocument("/")) << "an empty list makes nothing a document";
    Space().Documents().Add(".htm");
    const std::pair<const char*, bool> cases[] = {
        {"/index.htm", true},  {"/INDEX.HTM", true}, {"/a.html", true},        {"/logo.gif", false},
        {"/", true},           {"/news/", true},     {"/dir.old/file", false}, {"/q.php?u=http://x", true},
        {"/a.shtml?x", false}, {"/a.htmlx?y", true},
    };
    for (const auto& [page, expected] : cases)
        EXPECT_EQ(IsDocument(page), expected) << page;

    Space().Documents().Assign({"asp", ""});
    EXPECT_TRUE(IsDocument("/x.aspx"));
    EXPECT_FALSE(IsDocument("/x.gif")) << "an empty entry never occurs";
    Space().Documents().Assign({".old/f"});
    EXPECT_TRUE(IsDocument("/dir.old/file"));
}

TEST_F(NameListTest, DocumentsAreHeldInLowerCase) {
    Space().Documents().Add(".HTM");
    EXPECT_EQ(Space().Documents().Items(), std::vector<std::string>{".htm"});
    EXPECT_TRUE(IsDocument("/X.HTM"));
    Space().Documents().Assign({".PHP"});
    EXPECT_EQ(Space().Documents().Items(), std::vector<std::string>{".php"});
}

TEST_F(NameListTest, BuddiesMatchWholeNamesIgnoringCase) {
    Space().Buddies().Add("proxy.net.example");
    Space().Buddies().Add("M\xFC"
                          "ller.example");
    const std::pair<const char*, bool> cases[] = {
        {"PROXY.NET.EXAMPLE", true},
        {"a.proxy.net.example", false},
        {"proxy.net", false},
        {"m\xDC"
         "LLER.example",
         true},
        {"", false},
    };
    for (const auto& [host, expected] : cases) {
        NcsaRecord record;
        record.AssignAddressPair("192.0.2.1", host);
        ClassifyBuddy(Space().Buddies(), record);
        EXPECT_EQ(record.IsBuddy, expected) << host;
    }
    EXPECT_EQ(Space().Buddies().Items()[1], "M\xFC"
                                            "ller.example")
        << "buddies are stored unchanged";
    EXPECT_TRUE(Space().Buddies().Contains("m\xFCller.EXAMPLE"));
    Space().Documents().Add(".html");
    EXPECT_TRUE(Space().Documents().Contains(".HTML"));
    EXPECT_FALSE(Space().Documents().Contains(".htm"));
}

TEST_F(NameListTest, FileRoundTrip) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.documents";
    std::ofstream(file, std::ios::binary) << ".HTML\r\n#comment\r\n\r\n.Php\n.asp\r.x";
    const std::vector<std::string> loaded = LoadNameListFile(file);
    EXPECT_EQ(loaded, (std::vector<std::string>{".html", "#comment", "", ".php", ".asp", ".x"}));

    SaveNameListFile(file, loaded);
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, ".html\r\n#comment\r\n\r\n.php\r\n.asp\r\n.x\r\n");
    EXPECT_EQ(LoadNameListFile(file), loaded);
    EXPECT_TRUE(LoadNameListFile(folder.Path() / "missing").empty());
}

TEST_F(NameListTest, AWorkspacesFilesLiveInItsHomeFolder) {
    test::TempFolder folder;
    Workspace space(folder.Path());
    space.Documents().Add(".HTM");
    space.Buddies().Add("Friend.example");
    SaveNameListFile(space.DefinitionFile(".documents"), space.Documents().Items());
    SaveNameListFile(space.DefinitionFile(".buddies"), space.Buddies().Items());
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "kavel.documents"));
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "kavel.buddies"));
    EXPECT_EQ(LoadNameListFile(folder.Path() / "kavel.documents"), std::vector<std::string>{".htm"});
    EXPECT_EQ(LoadNameListFile(folder.Path() / "kavel.buddies"), std::vector<std::string>{"friend.example"})
        << "loading lowers ASCII letters";
}

TEST_F(NameListTest, LargeListsKeepDuplicatesAndOrder) {
    std::vector<std::string> items;
    for (int i = 0; i < 50000; ++i)
        items.push_back(".x" + std::to_string(i % 20000));
    Space().Documents().Assign(items);
    EXPECT_EQ(Space().Documents().Items(), items) << "duplicates and order stay as in the file";
    EXPECT_TRUE(Space().Documents().Contains(".X19999"));
    EXPECT_FALSE(Space().Documents().Contains(".x20000"));
    EXPECT_TRUE(Space().Documents().IsDocumentExtension(".x123"));
    EXPECT_FALSE(Space().Documents().IsDocumentExtension(".y"));

    // Spellings that differ in case are distinct for the substring test.
    Space().Buddies().Assign(
        {"Host.example", "host.example", "Host.example", "HOST.example", "host.example"});
    EXPECT_EQ(Space().Buddies().Count(), 5u);
    EXPECT_TRUE(Space().Buddies().AnyOccursIn("a.HOST.example"));
    EXPECT_TRUE(Space().Buddies().AnyOccursIn("a.host.example"));
    EXPECT_TRUE(Space().Buddies().AnyOccursIn("a.Host.example"));
    EXPECT_FALSE(Space().Buddies().AnyOccursIn("a.hOST.example"));
}

TEST_F(NameListTest, AStoppedLoadThrows) {
    test::TempFolder folder;
    std::ofstream(folder.Path() / "kavel.documents", std::ios::binary) << ".html\r\n";
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(LoadNameListFile(folder.Path() / "kavel.documents", stop.get_token()), LoadStoppedError);
}

TEST_F(NameListTest, LoaderTakesAnyBytes) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.buddies";
    std::mt19937 random(9);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 5000), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 256);
        std::ofstream(file, std::ios::binary) << bytes;
        Space().Buddies().Assign(LoadNameListFile(file));
        NcsaRecord record;
        record.AssignAddressPair("a", "a");
        ClassifyBuddy(Space().Buddies(), record);
    }
    std::ofstream(file, std::ios::binary) << std::string(1 << 20, 'y');
    EXPECT_EQ(LoadNameListFile(file).size(), 1u);
}

} // namespace
} // namespace kavel
