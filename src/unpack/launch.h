// Starting the unzip tool (fetched when the Shell cannot unpack) and opening the installer.
#pragma once

#include <windows.h>
#include <string>

#include "unpack/trust.h"

enum class LaunchResult { Started, Refused, Failed };

// Starts the tool with no console window, named by its full path (never searched for), in
// workingDir. On true the caller owns and closes both handles in process.
bool RunUnzipTool(const std::wstring& toolPath, const std::wstring& commandLine,
                  const std::wstring& workingDir, PROCESS_INFORMATION& process);

// Holds the tool, checks it against the policy and, when allowed, starts it as RunUnzipTool
// does; the file stays held until the process exists. On Started the caller owns the handles.
LaunchResult StartUnzipTool(const std::wstring& toolPath, const std::wstring& commandLine,
                            const std::wstring& workingDir, const TrustPolicy& policy,
                            PROCESS_INFORMATION& process);

// Holds the installer, checks it against the policy's signers and opens it through the Shell,
// waiting until the Shell has started it. Failed when it is missing
// (or cannot be held) or the Shell cannot open it; Refused when the check fails.
LaunchResult LaunchSetup(const std::wstring& installerPath, const TrustPolicy& policy);
