#pragma once

#include "config/SettingsStore.h"

#include <cstddef>
#include <filesystem>
#include <memory>

namespace kavel {

// The two configuration stores: Options (the home folder's ".config" INI file, section
// "Options") and Styles (per-user, section "Styles"). Either may be absent (before the main
// window's creation, in tests); readers of options then use the built-in defaults.
//
// Creates, configures and loads both stores in the start-up order: the Options store in INI
// mode on the ".config" file, then the Styles store on the per-user settings file. The main
// window's designed size and the screen size give the layout defaults.
struct LayoutDefaults {
    int MainWidth = 946;
    int MainHeight = 638;
    int ScreenWidth = 1920;
    int ScreenHeight = 1080;
};
std::unique_ptr<SettingsStore> CreateOptionsStore(const std::filesystem::path& file);
std::unique_ptr<SettingsStore> CreateStylesStore(const std::filesystem::path& file,
                                                 const LayoutDefaults& defaults = {});

// Option reads that fall back to the built-in default when there is no store (or it lacks the key).
bool OptionMiscDnsResolve(const SettingsStore* options);
std::int32_t OptionTimeDeleteAfter(const SettingsStore* options);
std::int32_t OptionTimeDeleteAfterUnit(const SettingsStore* options);
std::int32_t OptionTimeRevisitorAfterMinutes(const SettingsStore* options);
std::int32_t OptionTimeLogPollCycleInMs(const SettingsStore* options);
// How long a reader's line waits for the names of its addresses before it is shown without
// them, in milliseconds (0: never waits; a name that comes later serves later lines).
std::int32_t OptionMiscDnsDeadlineMs(const SettingsStore* options);
// Whether readers follow their log to a new file (rotation, deletion and re-creation, a late
// log, a template that expands to a new name); off, a reader keeps the file it opened first.
bool OptionLogFollowNewFiles(const SettingsStore* options);
// Seconds a reader goes on reading the file its log was rotated away from, after that file last
// grew (the web server writes into it until it reopens its log); 0 stops at the rotation.
// Never negative.
std::int32_t OptionLogRotateGraceSeconds(const SettingsStore* options);

// How many looked-up names the name cache remembers; at least 1.
std::size_t OptionMiscDnsCacheSize(const SettingsStore* options);

} // namespace kavel
