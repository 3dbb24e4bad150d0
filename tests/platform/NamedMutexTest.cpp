#include "platform/NamedMutex.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavel::platform {
namespace {

std::string UniqueName(const char* what) {
    return std::string("KavelTest-") + what + "-" + std::to_string(::getpid());
}

TEST(NamedMutex, SecondHolderSeesTheFirst) {
    const std::string name = UniqueName("second");
    NamedMutex first(name);
    EXPECT_TRUE(first.Owned());
    EXPECT_FALSE(first.AlreadyExisted());
    {
        NamedMutex second(name);
        EXPECT_TRUE(second.AlreadyExisted());
        EXPECT_FALSE(second.Owned());
    }
    // The refused attempt does not disturb the holder.
    EXPECT_TRUE(NamedMutex(name).AlreadyExisted());
    first.Release();
    EXPECT_FALSE(first.Owned());
    EXPECT_TRUE(NamedMutex(name).Owned());
}

TEST(NamedMutex, NamesAreIndependent) {
    NamedMutex a(UniqueName("a"));
    NamedMutex b(UniqueName("b"));
    EXPECT_TRUE(a.Owned());
    EXPECT_TRUE(b.Owned());
}

TEST(NamedMutex, AnyNameGivesAFileInsideTheLockFolder) {
    const auto file = NamedMutex::LockFile("../x/\"?\n");
    EXPECT_EQ(file.filename().string().find('/'), std::string::npos);
    EXPECT_EQ(file.parent_path(), NamedMutex::LockFile("Kavel").parent_path());
    EXPECT_NE(NamedMutex::LockFile("?"), NamedMutex::LockFile("Kavel"));
    NamedMutex odd(UniqueName("?/.."));
    EXPECT_TRUE(odd.Valid());
}

// Another process sees the lock while this one holds it, and takes it once it is released.
TEST(NamedMutex, OtherProcessSeesTheLock) {
    const std::string name = UniqueName("process");
    const auto childSees = [&name] {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(NamedMutex(name).AlreadyExisted() ? 1 : 0);
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 1;
    };
    auto held = std::make_unique<NamedMutex>(name);
    ASSERT_TRUE(held->Owned());
    EXPECT_TRUE(childSees());
    held.reset();
    EXPECT_FALSE(childSees());
}

} // namespace
} // namespace kavel::platform
