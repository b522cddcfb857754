// Worker-thread fetch: WinINet's calls block (a connect, a read from a stalled server), so they
// run where they cannot freeze the window; closing the request handle interrupts them.
#include "app/background_fetch.h"

#include "base/files.h"
#include "base/run_log.h"
#include "net/wininet_api.h"
#include "package/fingerprint.h"
#include "ui/progress_window.h"
#include "ui/responsive_wait.h"

namespace {

// Time a worker gets to return after its handles were closed; past it the program goes on
// without it (every road ends soon after a fetch that did not complete).
constexpr DWORD AbortGrace = 1000;

// How often the wait looks at the worker's progress, and how much longer than the network
// timeouts a silent server is given: WinINet's own timeouts cover most stalls, but not all
// (Wine's waits for the reply headers without end).
constexpr DWORD WatchInterval = 1000;
constexpr DWORD StallGrace = 5000;

// Freed by the window's thread once the worker has ended; a worker left behind after its grace
// keeps it (never freed: the process ends soon after).
struct FetchJob {
    std::string url;
    std::wstring target;
    FetchedBody body;
    FetchControl control;
    FetchReport report;
    FetchResult result = FetchResult::Failed;
};

DWORD WINAPI RunFetchJob(void* parameter)
{
    FetchJob& job = *static_cast<FetchJob*>(parameter);
    job.result = FetchUrl(job.url, job.target, job.control, job.body, job.report);
    return 0;
}

void PostProgress(int percent, void*)
{
    if (ProgressWnd)
        PostMessageW(ProgressWnd, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent), 0);
}

const wchar_t* ResultName(FetchResult result)
{
    switch (result) {
    case FetchResult::Complete: return L"complete";
    case FetchResult::Failed: return L"failed";
    case FetchResult::NotSaved: return L"not saved";
    case FetchResult::Cancelled: return L"cancelled";
    }
    return L"?";
}

void LogFetch(const FetchJob& job)
{
    const FetchReport& r = job.report;
    std::wstring line = L"GET " + Widen(job.url) + L" -> " + ResultName(job.result) +
                        L"; HTTP " + DecimalText(r.httpStatus) + L", announced " +
                        (r.announced ? DecimalText(r.announced) : std::wstring(L"none")) +
                        L", received " + DecimalText(r.received) + L", " +
                        DecimalText(r.milliseconds) + L" ms";
    if (!job.target.empty())
        line += L", for " + job.target;  // streamed into its .part file when longer than 32 bytes
    if (r.failedStep) {
        line += L"; failed: ";
        line += r.failedStep;
        if (r.error)
            line += L", error " + ErrorText(r.error);
    }
    LogEvent(line);
}

}  // namespace

FetchResult FetchInBackground(const std::string& url, const std::wstring& target, FetchedBody& body,
                              bool statusTextOnError)
{
    SetStatusSearching();
    // Loaded here, on this thread, before a worker exists: AbortFetch may need it at any time.
    WinInet();
    FetchJob* job = new FetchJob{url, target, {}, {}, {}};
    job->control.onProgress = PostProgress;
    job->control.statusTextOnError = statusTextOnError;

    const HANDLE worker = CreateThread(nullptr, 0, RunFetchJob, job, 0, nullptr);
    bool stalled = false;
    if (!worker) {
        RunFetchJob(job);  // no thread to be had: fetch here, the window waits meanwhile
    } else {
        WaitEnd end;
        while ((end = WaitDispatching(worker, WatchInterval)) == WaitEnd::TimedOut) {
            if (MillisecondsSinceProgress(job->control) > job->control.timeoutMs + StallGrace) {
                stalled = true;
                break;
            }
        }
        if (end != WaitEnd::Signalled) {
            AbortFetch(job->control);
            if (WaitDispatching(worker, AbortGrace, false) != WaitEnd::Signalled) {
                // Left to itself: its temporary file is open for deletion, so it goes now.
                CloseHandle(worker);
                if (!target.empty())
                    DeleteFileW(TemporaryPathFor(target).c_str());
                LogEvent(L"GET " + Widen(url) + (stalled ? L" -> failed: no data from the server for "
                                                             + DecimalText(job->control.timeoutMs + StallGrace) + L" ms"
                                                       : L" -> cancelled") +
                         L"; the transfer did not stop when its handles were closed");
                return (stalled && !CancelConfirmed()) ? FetchResult::Failed : FetchResult::Cancelled;
            }
        }
        CloseHandle(worker);
    }
    if (stalled && job->result == FetchResult::Cancelled) {
        job->result = FetchResult::Failed;
        job->report.failedStep = L"no data from the server";
        job->report.error = ERROR_INTERNET_TIMEOUT;
    }
    LogFetch(*job);
    FetchResult result = job->result;
    body = std::move(job->body);
    delete job;
    if (CancelConfirmed()) {
        if (result == FetchResult::Complete)
            DropFetchedBody(body, target);  // it arrived while the question was open
        result = FetchResult::Cancelled;
    }
    return result;
}

namespace {

// Owned like FetchJob: a hash left running after a cancel keeps it, never freed.
struct HashJob {
    std::wstring path;
    std::string value;
};

DWORD WINAPI RunHashJob(void* parameter)
{
    HashJob& job = *static_cast<HashJob*>(parameter);
    job.value = ComputeCheckValue(job.path);
    return 0;
}

}  // namespace

bool ComputeCheckValueInBackground(const std::wstring& packagePath, std::string& checkValue)
{
    HashJob* job = new HashJob{packagePath, std::string()};
    const HANDLE worker = CreateThread(nullptr, 0, RunHashJob, job, 0, nullptr);
    if (!worker) {
        RunHashJob(job);
    } else {
        // Reading the package is bounded by its size; this wait ends with it or with Cancel.
        const WaitEnd end = WaitDispatching(worker, INFINITE);
        CloseHandle(worker);
        if (end == WaitEnd::Cancelled)
            return false;  // the job stays with its worker, which the process's end stops
    }
    checkValue = job->value;
    delete job;
    return !CancelConfirmed();
}

UnzipToolFetch FetchUnzipTool(const std::string& toolUrl, const std::wstring& toolPath)
{
    FetchedBody body;
    switch (FetchInBackground(toolUrl, toolPath, body, false)) {
    case FetchResult::Cancelled:
        return UnzipToolFetch::Cancelled;
    case FetchResult::Failed:
        return UnzipToolFetch::NotFetched;
    case FetchResult::NotSaved:
        return UnzipToolFetch::NotSaved;
    case FetchResult::Complete:
        break;
    }
    return KeepFetchedBody(body, toolPath) ? UnzipToolFetch::Saved : UnzipToolFetch::NotSaved;
}
