// Unzip tool start and opening Setup.exe.
#include "unpack/launch.h"

#include <shellapi.h>

#include <vector>


bool RunUnzipTool(const std::wstring& toolPath, const std::wstring& commandLine,
                  const std::wstring& workingDir, PROCESS_INFORMATION& process)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // CreateProcessW may write into the command line, so it gets a private copy.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    // A program at a drive's root has "C:" as its folder, which names the current folder of
    // that drive, not its root: start there as "C:\".
    std::wstring folder = workingDir;
    if (folder.size() == 2 && folder[1] == L':')
        folder += L'\\';
    return CreateProcessW(toolPath.c_str(), writable.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &process) != 0;
}

void LaunchSetup(const std::wstring& installerPath)
{
    ShellExecuteW(nullptr, L"open", installerPath.c_str(), nullptr, nullptr, SW_SHOW);
}
