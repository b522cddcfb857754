// The unzip tool (fetched from the server when the Shell cannot unpack) and the installer launch.
#pragma once

#include <windows.h>
#include <string>

#include "base/byte_buffer.h"

enum class UnzipToolFetch { NotFetched, NotSaved, Saved };

// Downloads the tool into the buffer (its previous content is dropped) and saves it at toolPath.
UnzipToolFetch FetchUnzipTool(const std::string& toolUrl, const std::wstring& toolPath,
                              ByteBuffer& buffer);

// Starts the tool with no console window, named by its full path (never searched for), in
// workingDir. On true the caller owns and closes both handles in process.
bool RunUnzipTool(const std::wstring& toolPath, const std::wstring& commandLine,
                  const std::wstring& workingDir, PROCESS_INFORMATION& process);

// Opens the installer through the Shell; failures pass silently.
void LaunchSetup(const std::wstring& installerPath);
