// First-install and update roads: query, save, unpack (Shell, else the unzip tool), open Setup.exe.
// Every wait dispatches the window's messages, and Cancel ends the road wherever it is asked.
#include "app/install_roads.h"

#include <windows.h>
#include <objbase.h>

#include "app/background_fetch.h"
#include "app/build_values.h"
#include "base/run_log.h"
#include "net/protocol.h"
#include "package/fingerprint.h"
#include "ui/error_box.h"
#include "ui/progress_window.h"
#include "ui/responsive_wait.h"
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
    SetCancelMode(CancelMode::Ignored);  // the road is ending: Cancel has nothing left to stop
    ReportError(message);
    return 1;
}

int Done()
{
    SetCancelMode(CancelMode::Ignored);
    CoUninitialize();
    return 0;
}

int Cancelled()
{
    SetCancelMode(CancelMode::Ignored);
    LogEvent(L"cancelled by the user");
    CoUninitialize();
    return ExitCancelled;
}

// The Shell copy is one long call: a Cancel clicked meanwhile is asked about when it returns.
bool Unpack(const InstallPaths& paths)
{
    SetCancelMode(CancelMode::Deferred);
    const bool unpacked = ExtractZip(paths.package, paths.installFolder);
    SetCancelMode(CancelMode::Ask);
    return unpacked;
}

// Fetches and saves the unzip tool: the message for what went wrong, or null when it is saved.
const wchar_t* FetchToolFailure(const RoadContext& context, bool& cancelled)
{
    switch (FetchUnzipTool(context.unzipToolUrl, context.paths.tool)) {
    case UnzipToolFetch::Cancelled:
        cancelled = true;
        return nullptr;
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
    SetCancelMode(CancelMode::Ignored);  // once Setup.exe is opened there is nothing to cancel
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
    LogEvent(L"first install, check value " + Widen(UpToDateReply));
    SetCancelMode(CancelMode::Ask);
    FetchedBody body;
    switch (FetchInBackground(context.queryBase + UpToDateReply, paths.package, body)) {
    case FetchResult::Cancelled:
        return Cancelled();
    case FetchResult::Failed:
        return Fail(text::FirstFetchFailed);
    case FetchResult::NotSaved:
        return Fail(text::PackageNotSaved);
    case FetchResult::Complete:
        break;
    }
    // Only "not found" ends this road; any other body, the up-to-date text too, is the package.
    if (!body.inTemporary && ClassifyReply(body.small) == ReplyClass::NotFound)
        return Fail(text::ProductNotFound);
    if (!KeepFetchedBody(body, paths.package))
        return Fail(text::PackageNotSaved);
    SetStatusDownloaded();
    if (!PauseDispatching(PauseBeforeUnpack))
        return Cancelled();

    const bool unpacked = Unpack(paths);
    if (!DispatchPending())
        return Cancelled();
    if (unpacked) {
        if (!PauseDispatching(PauseAfterShellCopy))
            return Cancelled();
        if (!FileExists(paths.installer))
            return Fail(text::SetupMissingAfterUnpack);
        return OpenInstaller(paths.installer, 1);  // this end has always exited with 1
    }

    bool cancelled = false;
    if (const wchar_t* failure = FetchToolFailure(context, cancelled))
        return Fail(failure);
    if (cancelled || !DispatchPending())
        return Cancelled();
    PROCESS_INFORMATION tool = {};
    switch (StartUnzipTool(paths.tool, paths.unzipCommandLine, ProgramDir, BuiltInTrust(), tool)) {
    case LaunchResult::Refused:
        return Fail(text::ToolNotTrusted);
    case LaunchResult::Failed:
        return Fail(text::ToolNotStarted);
    case LaunchResult::Started:
        break;
    }
    // The tool is working on its own now: nothing is left to cancel, the program just ends.
    SetCancelMode(CancelMode::Ignored);
    PauseDispatching(PauseAfterToolStart);
    CloseHandle(tool.hProcess);
    CloseHandle(tool.hThread);
    return Done();
}

int RunUpdateRoad(const RoadContext& context)
{
    const InstallPaths& paths = context.paths;
    SetCancelMode(CancelMode::Ask);
    std::string checkValue;
    if (!ComputeCheckValueInBackground(paths.package, checkValue))
        return Cancelled();
    const std::string queryUrl = context.queryBase + checkValue;
    LogEvent(L"update, check value " + Widen(checkValue));
    WriteTraceFile(Widen(checkValue), paths.trace);

    // The query goes out twice and only the second reply counts; the server may rely on it. The
    // first body is read to its end and dropped.
    FetchedBody body;
    switch (FetchInBackground(queryUrl, std::wstring(), body)) {
    case FetchResult::Cancelled:
        return Cancelled();
    case FetchResult::Complete:
        break;
    default:
        return Fail(text::UpdateCheckFailed);
    }
    switch (FetchInBackground(queryUrl, paths.package, body)) {
    case FetchResult::Cancelled:
        return Cancelled();
    case FetchResult::Failed:
        return Fail(text::UpdateCheckFailed);
    case FetchResult::NotSaved:
        return Fail(text::UpdateNotSaved);
    case FetchResult::Complete:
        break;
    }

    switch (body.inTemporary ? ReplyClass::Package : ClassifyReply(body.small)) {
    case ReplyClass::NotFound:
        return Fail(text::ProductNotFound);
    case ReplyClass::UpToDate:
        return OpenInstaller(paths.installer, 0);
    case ReplyClass::Package:
        break;
    }
    if (!KeepFetchedBody(body, paths.package))
        return Fail(text::UpdateNotSaved);
    SetStatusDownloaded();
    if (!PauseDispatching(PauseBeforeUnpack))
        return Cancelled();

    const bool unpacked = Unpack(paths);
    if (!DispatchPending())
        return Cancelled();
    if (unpacked)
        return Done();

    bool cancelled = false;
    if (const wchar_t* failure = FetchToolFailure(context, cancelled))
        return Fail(failure);
    if (cancelled || !DispatchPending())
        return Cancelled();
    PROCESS_INFORMATION tool = {};
    const LaunchResult toolStart =
        StartUnzipTool(paths.tool, paths.unzipCommandLine, ProgramDir, BuiltInTrust(), tool);
    if (toolStart == LaunchResult::Refused)
        return Fail(text::ToolNotTrusted);
    if (toolStart == LaunchResult::Started) {
        const WaitEnd waited = WaitDispatching(tool.hProcess, LongestToolWait);
        LogEvent(waited == WaitEnd::Signalled ? L"unzip tool ended"
                 : waited == WaitEnd::TimedOut ? L"unzip tool still running after 30 s"
                                              : L"wait on the unzip tool cancelled; the tool keeps running");
        CloseHandle(tool.hProcess);
        CloseHandle(tool.hThread);
        if (waited == WaitEnd::Cancelled)
            return Cancelled();
    }
    // A tool that did not start is not reported: an installer from an earlier unpacking may do.
    if (!DispatchPending())
        return Cancelled();
    if (!FileExists(paths.installer))
        return Fail(text::SetupMissingAfterUnpack);
    return OpenInstaller(paths.installer, 0);
}
