// Starting the unzip tool and opening Setup.exe, both checked before they run.
#include "unpack/launch.h"

#include <shellapi.h>

#include <vector>

#include "base/run_log.h"

namespace {

// Closes the held file once the program it guarded has been started (or refused).
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path)
        : handle_(HoldFileForRun(path)), error_(handle_ == INVALID_HANDLE_VALUE ? GetLastError() : 0)
    {
    }
    ~HeldFile()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    HANDLE Handle() const { return handle_; }
    DWORD Error() const { return error_; }  // why it could not be held

private:
    HANDLE handle_;
    DWORD error_;
};

}  // namespace


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

LaunchResult StartUnzipTool(const std::wstring& toolPath, const std::wstring& commandLine,
                            const std::wstring& workingDir, const TrustPolicy& policy,
                            PROCESS_INFORMATION& process)
{
    const HeldFile tool(toolPath);
    const TrustVerdict verdict = CheckToolTrust(tool.Handle(), toolPath, policy);
    if (verdict == TrustVerdict::Unreadable) {
        LogEvent(L"unzip tool not started: " + commandLine + L", error " + ErrorText(tool.Error()));
        return LaunchResult::Failed;
    }
    if (!RunAllowed(verdict)) {
        LogEvent(L"unzip tool refused");
        return LaunchResult::Refused;
    }
    const bool started = RunUnzipTool(toolPath, commandLine, workingDir, process);
    if (started)
        LogEvent(L"unzip tool started: " + commandLine + L", process " + DecimalText(process.dwProcessId) +
                 L", in " + workingDir);
    else
        LogEvent(L"unzip tool not started: " + commandLine + L", error " + ErrorText(GetLastError()));
    return started ? LaunchResult::Started : LaunchResult::Failed;
}

LaunchResult LaunchSetup(const std::wstring& installerPath, const TrustPolicy& policy)
{
    const HeldFile installer(installerPath);
    const TrustVerdict verdict = CheckInstallerTrust(installer.Handle(), installerPath, policy);
    if (verdict == TrustVerdict::Unreadable) {  // missing, or held open for writing by someone else
        LogEvent(L"installer not opened: " + installerPath + L", error " + ErrorText(installer.Error()));
        return LaunchResult::Failed;
    }
    if (!RunAllowed(verdict)) {
        LogEvent(L"installer refused");
        return LaunchResult::Refused;
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // The process ends right after this call: the Shell must have started Setup.exe by then.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = installerPath.c_str();
    info.nShow = SW_SHOW;
    const bool opened = ShellExecuteExW(&info) != 0;
    LogEvent(opened ? L"installer opened: " + installerPath
                    : L"installer not opened: " + installerPath + L", error " + ErrorText(GetLastError()));
    return opened ? LaunchResult::Started : LaunchResult::Failed;
}
