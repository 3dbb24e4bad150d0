#pragma once

#include "config/SettingsStore.h"

namespace kavel {

// The two process-wide stores: Options (the ".config" INI file beside the program, section
// "Options") and Styles (per-user, section "Styles"). Either may be absent (before the main
// window's creation, in tests); readers of options then use the built-in defaults.
SettingsStore* Options();
SettingsStore* Styles();
void SetOptions(SettingsStore* options);
void SetStyles(SettingsStore* styles);

// Creates, configures and loads both stores in the start-up order: the Options store in INI
// mode on the ".config" file, then the Styles store on the per-user settings file. The main
// window's designed size and the screen size give the layout defaults.
struct LayoutDefaults {
    int MainWidth = 946;
    int MainHeight = 638;
    int ScreenWidth = 1920;
    int ScreenHeight = 1080;
};
std::unique_ptr<SettingsStore> CreateOptionsStore();
std::unique_ptr<SettingsStore> CreateStylesStore(const LayoutDefaults& defaults = {});

// Option reads that fall back to the built-in default when no Options store is installed.
bool OptionMiscDnsResolve();
std::int32_t OptionTimeDeleteAfter();
std::int32_t OptionTimeDeleteAfterUnit();
std::int32_t OptionTimeRevisitorAfterMinutes();
std::int32_t OptionTimeLogPollCycleInMs();
// How long a reader's line waits for the names of its addresses before it is shown without
// them, in milliseconds (0: never waits; a name that comes later serves later lines).
std::int32_t OptionMiscDnsDeadlineMs();
// Whether readers follow their log to a new file (rotation, deletion and re-creation, a late
// log, a template that expands to a new name); off, a reader keeps the file it opened first.
bool OptionLogFollowNewFiles();
// Seconds a reader goes on reading the file its log was rotated away from, after that file last
// grew (the web server writes into it until it reopens its log); 0 stops at the rotation.
// Never negative.
std::int32_t OptionLogRotateGraceSeconds();

} // namespace kavel
