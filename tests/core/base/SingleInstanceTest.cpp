#include "base/SingleInstance.h"

#include "platform/NamedMutex.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kavel {
namespace {

class SingleInstance : public testing::Test {
protected:
    ~SingleInstance() override { ReleaseSingleInstance(); }
    const std::string LockName = "KavelTest-" + std::to_string(::getpid()) + "-" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(SingleInstance, FirstInstanceContinuesWithoutAsking) {
    int asked = 0;
    EXPECT_TRUE(CheckSingleInstance([&](const std::string&, const std::string&) { return ++asked, false; },
                                    LockName));
    EXPECT_EQ(asked, 0);
}

TEST_F(SingleInstance, SecondInstanceIsAskedAndFollowsTheAnswer) {
    ASSERT_TRUE(CheckSingleInstance({}, LockName));
    std::string question, caption;
    const auto answer = [&](bool yes) {
        return [&, yes](const std::string& q, const std::string& c) {
            question = q;
            caption = c;
            return yes;
        };
    };
    EXPECT_FALSE(CheckSingleInstance(answer(false), LockName));
    EXPECT_EQ(question,
              "Die Anwendung wurde bereits gestartet. Möchten Sie sie noch ein weiteres Mal starten?");
    EXPECT_EQ(caption, "Kavel");
    EXPECT_TRUE(CheckSingleInstance(answer(true), LockName));
    // The first instance still holds the lock after a second one was allowed.
    EXPECT_TRUE(platform::NamedMutex(LockName).AlreadyExisted());
}

TEST_F(SingleInstance, ReleasedLockLetsTheNextInstanceStartQuietly) {
    ASSERT_TRUE(CheckSingleInstance({}, LockName));
    ReleaseSingleInstance();
    int asked = 0;
    EXPECT_TRUE(CheckSingleInstance([&](const std::string&, const std::string&) { return ++asked, false; },
                                    LockName));
    EXPECT_EQ(asked, 0);
}

} // namespace
} // namespace kavel
