#include "support/TestWorkspace.h"

#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <memory>

namespace kavel::test {

namespace {

std::unique_ptr<Workspace>& Current() {
    static std::unique_ptr<Workspace> current;
    return current;
}

// Every test ends with its workspace undone, whatever it left running.
class WorkspaceListener final : public testing::EmptyTestEventListener {
public:
    void OnTestEnd(const testing::TestInfo&) override { EndSpace(); }
};

const bool Registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new WorkspaceListener);
    return true;
}();

} // namespace

Workspace& Space() {
    std::unique_ptr<Workspace>& current = Current();
    if (!current)
        current = std::make_unique<Workspace>(platform::Paths::HomeDir());
    return *current;
}

void EndSpace() {
    Current().reset();
}

} // namespace kavel::test
