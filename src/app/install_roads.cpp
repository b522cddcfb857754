// First-install and update roads: query, save, unpack (Shell, else the unzip tool), open Setup.exe.
#include "app/install_roads.h"

#include <windows.h>
#include <objbase.h>

#include "net/fetch.h"
#include "net/protocol.h"
#include "package/fingerprint.h"
#include "ui/error_box.h"
#include "ui/progress_window.h"
#include "ui/texts.h"
#include "unpack/launch.h"
#include "unpack/shell_extract.h"

namespace {

// Pauses that give the Shell or the unzip tool time to work; the program never polls them.
constexpr DWORD PauseBeforeUnpack = 3000;
constexpr DWORD PauseAfterShellCopy = 5000;
constexpr DWORD PauseAfterToolStart = 5000;
constexpr DWORD LongestToolWait = 30000;

int Fail(const wchar_t* message)
{
    ReportError(message);
    return 1;
}

int Done()
{
    CoUninitialize();
    return 0;
}

bool Fetch(const std::string& url, ByteBuffer& buffer)
{
    const HINTERNET session = OpenInternetSession();
    return session && DownloadToBuffer(url, buffer, session);
}

// Fetches and saves the unzip tool: the message for what went wrong, or null when it is saved.
const wchar_t* FetchToolFailure(const RoadContext& context, ByteBuffer& buffer)
{
    switch (FetchUnzipTool(context.unzipToolUrl, context.paths.tool, buffer)) {
    case UnzipToolFetch::NotFetched:
        return text::ToolNotFetched;
    case UnzipToolFetch::NotSaved:
        return text::ToolNotSaved;
    case UnzipToolFetch::Saved:
        break;
    }
    return nullptr;
}

// Opens Setup.exe after its check: the exit code of a launch, or of its failure after the box.
int OpenInstaller(const std::wstring& installer, int launchedExitCode)
{
    switch (LaunchSetup(installer, BuiltInTrust())) {
    case LaunchResult::Refused:
        return Fail(text::SetupNotTrusted);
    case LaunchResult::Failed:
        return Fail(text::SetupNotOpened);
    case LaunchResult::Started:
        break;
    }
    CoUninitialize();
    return launchedExitCode;
}

}  // namespace

int RunFirstInstallRoad(const RoadContext& context)
{
    const InstallPaths& paths = context.paths;
    ByteBuffer buffer;
    if (!Fetch(context.queryBase + UpToDateReply, buffer))
        return Fail(text::FirstFetchFailed);
    // Only "not found" ends this road; any other body, the up-to-date text too, is the package.
    if (ClassifyReply(buffer) == ReplyClass::NotFound)
        return Fail(text::ProductNotFound);
    if (!SaveBuffer(buffer, paths.package))
        return Fail(text::PackageNotSaved);
    SetStatusDownloaded();
    Sleep(PauseBeforeUnpack);

    if (ExtractZip(paths.package, paths.installFolder)) {
        Sleep(PauseAfterShellCopy);
        if (!FileExists(paths.installer))
            return Fail(text::SetupMissingAfterUnpack);
        return OpenInstaller(paths.installer, 1);  // this end has always exited with 1
    }

    if (const wchar_t* failure = FetchToolFailure(context, buffer))
        return Fail(failure);
    PROCESS_INFORMATION tool = {};
    switch (StartUnzipTool(paths.tool, paths.unzipCommandLine, ProgramDir, BuiltInTrust(), tool)) {
    case LaunchResult::Refused:
        return Fail(text::ToolNotTrusted);
    case LaunchResult::Failed:
        return Fail(text::ToolNotStarted);
    case LaunchResult::Started:
        break;
    }
    Sleep(PauseAfterToolStart);
    CloseHandle(tool.hProcess);
    CloseHandle(tool.hThread);
    return Done();
}

int RunUpdateRoad(const RoadContext& context)
{
    const InstallPaths& paths = context.paths;
    const std::string checkValue = ComputeCheckValue(paths.package);
    const std::string queryUrl = context.queryBase + checkValue;
    ByteBuffer buffer;
    WriteTraceFile(Widen(checkValue), paths.trace);

    // The query goes out twice and only the second reply counts; the server may rely on it.
    if (!Fetch(queryUrl, buffer))
        return Fail(text::UpdateCheckFailed);
    if (!Fetch(queryUrl, buffer))
        return Fail(text::UpdateCheckFailed);

    switch (ClassifyReply(buffer)) {
    case ReplyClass::NotFound:
        return Fail(text::ProductNotFound);
    case ReplyClass::UpToDate:
        return OpenInstaller(paths.installer, 0);
    case ReplyClass::Package:
        break;
    }
    if (!SaveBuffer(buffer, paths.package))
        return Fail(text::UpdateNotSaved);
    SetStatusDownloaded();
    Sleep(PauseBeforeUnpack);

    if (ExtractZip(paths.package, paths.installFolder))
        return Done();

    if (const wchar_t* failure = FetchToolFailure(context, buffer))
        return Fail(failure);
    PROCESS_INFORMATION tool = {};
    const LaunchResult toolStart =
        StartUnzipTool(paths.tool, paths.unzipCommandLine, ProgramDir, BuiltInTrust(), tool);
    if (toolStart == LaunchResult::Refused)
        return Fail(text::ToolNotTrusted);
    if (toolStart == LaunchResult::Started) {
        WaitForSingleObject(tool.hProcess, LongestToolWait);
        CloseHandle(tool.hProcess);
        CloseHandle(tool.hThread);
    }
    // A tool that did not start is not reported: an installer from an earlier unpacking may do.
    if (!FileExists(paths.installer))
        return Fail(text::SetupMissingAfterUnpack);
    return OpenInstaller(paths.installer, 0);
}
