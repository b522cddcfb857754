// Starting the unzip tool (fetched when the Shell cannot unpack) and opening the installer.
#pragma once

#include <windows.h>
#include <string>


// Starts the tool with no console window, named by its full path (never searched for), in
// workingDir. On true the caller owns and closes both handles in process.
bool RunUnzipTool(const std::wstring& toolPath, const std::wstring& commandLine,
                  const std::wstring& workingDir, PROCESS_INFORMATION& process);

// Opens the installer through the Shell; failures pass silently.
void LaunchSetup(const std::wstring& installerPath);
