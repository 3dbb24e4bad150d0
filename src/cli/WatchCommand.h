#pragma once

namespace kavel::cli {

// "kavel-cli watch": the whole program without a window. argv[0] is "watch"; the home
// options were already taken by platform::Paths::Init. Returns the exit status.
int RunWatch(int argc, char** argv);

} // namespace kavel::cli
