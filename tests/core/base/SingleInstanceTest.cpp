#include "base/SingleInstance.h"

#include "platform/NamedMutex.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kavel {
namespace {

class SingleInstance : public testing::Test {
protected:
    InstanceLock Lock_;
    const std::string LockName = "KavelTest-" + std::to_string(::getpid()) + "-" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(SingleInstance, FirstInstanceContinuesWithoutAsking) {
    int asked = 0;
    EXPECT_TRUE(
        Lock_.Check([&](const std::string&, const std::string&) { return ++asked, false; }, LockName));
    EXPECT_EQ(asked, 0);
}

TEST_F(SingleInstance, SecondInstanceIsAskedAndFollowsTheAnswer) {
    ASSERT_TRUE(Lock_.Check({}, LockName));
    InstanceLock second;
    std::string question, caption;
    const auto answer = [&](bool yes) {
        return [&, yes](const std::string& q, const std::string& c) {
            question = q;
            caption = c;
            return yes;
        };
    };
    EXPECT_FALSE(second.Check(answer(false), LockName));
    EXPECT_EQ(question, SecondInstanceQuestion);
    EXPECT_EQ(caption, "Kavel");
    EXPECT_TRUE(second.Check(answer(true), LockName));
    // The first instance still holds the lock after a second one was allowed.
    EXPECT_TRUE(platform::NamedMutex(LockName).AlreadyExisted());
}

TEST_F(SingleInstance, ReleasedLockLetsTheNextInstanceStartQuietly) {
    ASSERT_TRUE(Lock_.Check({}, LockName));
    Lock_.Release();
    InstanceLock next;
    int asked = 0;
    EXPECT_TRUE(next.Check([&](const std::string&, const std::string&) { return ++asked, false; }, LockName));
    EXPECT_EQ(asked, 0);
}

// The lock guards the definition files: one lock per workspace folder, however it is named.
TEST(WorkspaceLock, EveryNameOfOneFolderGivesOneLockAndOtherFoldersOthers) {
    test::TempFolder folder;
    const std::filesystem::path home = folder / "home";
    const std::filesystem::path other = folder / "other";
    std::filesystem::create_directories(home / "sub");
    std::filesystem::create_directories(other);
    std::filesystem::create_directory_symlink(home, folder / "link");
    const std::string lock = WorkspaceLockName(home);
    EXPECT_EQ(lock.rfind("Kavel-", 0), 0u) << lock;
    for (const std::filesystem::path& same :
         {home / "", home / "sub" / "..", folder / "link", folder / "." / "home", folder / "link" / ""}) {
        SCOPED_TRACE(same.string());
        EXPECT_EQ(WorkspaceLockName(same), lock);
    }
    for (const std::filesystem::path& different : {other, home / "sub", folder.Path(), folder / "missing"}) {
        SCOPED_TRACE(different.string());
        EXPECT_NE(WorkspaceLockName(different), lock);
    }
    // The lock file is named after the lock, whatever characters the path holds.
    EXPECT_EQ(platform::NamedMutex::LockFile(lock).filename().string().rfind(lock, 0), 0u);
}

// Two workspaces run together without a question; a second start on one of them asks.
TEST(WorkspaceLock, TwoWorkspacesRunTogetherAndOneWorkspaceTwiceAsks) {
    test::TempFolder folder;
    std::filesystem::create_directories(folder / "a");
    std::filesystem::create_directories(folder / "b");
    // The running instance on "a", as another process holds its lock.
    platform::NamedMutex runningOnA(WorkspaceLockName(folder / "a"));
    ASSERT_TRUE(runningOnA.Owned());
    int asked = 0;
    const auto ask = [&asked](const std::string&, const std::string&) { return ++asked, false; };
    InstanceLock onB;
    EXPECT_TRUE(onB.Check(ask, WorkspaceLockName(folder / "b")));
    EXPECT_EQ(asked, 0);
    InstanceLock onA;
    EXPECT_FALSE(onA.Check(ask, WorkspaceLockName(folder / "a" / "")));
    EXPECT_EQ(asked, 1);
}

} // namespace
} // namespace kavel
