// The two install roads: first install (no package yet) and update (a package from a past run).
#pragma once

#include <string>

#include "app/names.h"

// What the common start hands to either road.
struct RoadContext {
    InstallPaths paths;
    std::string queryBase;    // ends in "&check="
    std::string unzipToolUrl;
};

// Exit code when the user cancels (Windows' ERROR_INSTALL_USEREXIT, what installers return).
constexpr int ExitCancelled = 1602;

// Each returns the process exit code; COM has been uninitialised on every path.
int RunFirstInstallRoad(const RoadContext& context);
int RunUpdateRoad(const RoadContext& context);
