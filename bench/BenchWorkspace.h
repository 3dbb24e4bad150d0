#pragma once

#include "acquisition/Workspace.h"
#include "platform/Paths.h"

namespace kavel::bench {

// The workspace a benchmark program works on, for the whole run, on the home folder set when it
// is first asked for (platform::Paths::HomeDir).
inline Workspace& Space() {
    static Workspace space(platform::Paths::HomeDir());
    return space;
}

} // namespace kavel::bench
