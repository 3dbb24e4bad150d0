#pragma once

#include "acquisition/Workspace.h"

namespace kavel::test {

// The workspace of the running test: made on first use, on the home folder set then
// (platform::Paths::HomeDir, see ScopedHome), and undone when the test ends, so that every
// test starts with an empty queue, empty lists, no servers and no readers. A test that needs
// more than one makes its own.
Workspace& Space();
// Undoes the running test's workspace now (before what its readers use goes); the next Space()
// makes a new one.
void EndSpace();

} // namespace kavel::test
