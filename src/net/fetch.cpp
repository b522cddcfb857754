// HTTP fetch through WinINet, streamed to a temporary file in large blocks.
#include "net/fetch.h"

#include <memory>

#include "base/files.h"
#include "base/run_log.h"
#include "net/protocol.h"
#include "net/wininet_api.h"

#ifndef DOWNLOAD_NET_TIMEOUT_MS
#define DOWNLOAD_NET_TIMEOUT_MS 30000
#endif

namespace {

// 64 KiB reads: under Wine each call costs about 0.1 ms, so 4 KiB reads spent most of the
// time in call overhead; larger reads gained nothing more (see the benchmark).
constexpr DWORD ReadSize = 64 * 1024;

// A status text is 32 bytes; an error reply longer than that is not read to its end.
constexpr size_t LongestStatusReply = 32;

// Whatever the cache headers say, the package is asked for again and never copied into the
// user's Internet cache.
constexpr DWORD RequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

DWORD StatusCode(const WinInetApi& api, HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!api.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, nullptr))
        return 0;
    return status;
}

// Content-Length read as text, so that sizes past 4 GiB count right; 0 when absent or garbled.
uint64_t AnnouncedLength(const WinInetApi& api, HINTERNET request)
{
    char text[32] = {};
    DWORD size = sizeof text - 1;
    if (!api.HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return 0;
    uint64_t length = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || length > (UINT64_MAX - 9) / 10)
            return 0;
        length = length * 10 + static_cast<uint64_t>(*c - '0');
    }
    return length;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The URL the request ended at, after any redirects.
std::string FinalUrl(const WinInetApi& api, HINTERNET request)
{
    char url[2048] = {};
    DWORD size = sizeof url;
    if (!api.InternetQueryOptionA(request, INTERNET_OPTION_URL, url, &size))
        return std::string();
    return std::string(url);
}

// Where the body goes: the first 32 bytes are held in memory; past that, into the temporary
// file (or nowhere, when there is no target).
struct BodySink {
    const std::wstring& target;
    FetchedBody& body;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::wstring temporary;

    bool Open(FetchReport& report)
    {
        temporary = TemporaryPathFor(target);
        // Deletable while open: a fetch left behind on a stuck worker must not leave it behind.
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return true;
        report.failedStep = L"CreateFileW";
        report.error = GetLastError();
        return false;
    }

    bool Write(const char* data, DWORD count, FetchReport& report)
    {
        while (count > 0) {
            DWORD written = 0;
            if (!WriteFile(file, data, count, &written, nullptr) || written == 0) {
                report.failedStep = L"WriteFile";
                report.error = GetLastError();
                return false;
            }
            data += written;
            count -= written;
        }
        return true;
    }

    bool Take(const char* data, DWORD count, FetchReport& report)
    {
        if (file != INVALID_HANDLE_VALUE)
            return Write(data, count, report);
        body.small.insert(body.small.end(), data, data + count);
        if (body.small.size() <= LongestStatusReply)
            return true;
        if (target.empty()) {
            body.small.clear();  // dropped: only its length is counted
            body.small.shrink_to_fit();
            return true;
        }
        if (!Open(report))
            return false;
        body.inTemporary = true;
        const bool written = Write(body.small.data(), static_cast<DWORD>(body.small.size()), report);
        ByteBuffer().swap(body.small);
        return written;
    }

    bool Close(FetchReport& report)
    {
        if (file == INVALID_HANDLE_VALUE)
            return true;
        const bool closed = CloseHandle(file) != 0;
        file = INVALID_HANDLE_VALUE;
        if (!closed) {
            report.failedStep = L"CloseHandle";
            report.error = GetLastError();
        }
        return closed;
    }

    // Leaves nothing behind.
    void Discard()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        if (body.inTemporary)
            DeleteFileW(temporary.c_str());
        body.inTemporary = false;
        ByteBuffer().swap(body.small);
    }
};

// Registers a handle with the control unless the fetch was aborted meanwhile; then it is closed.
bool Publish(FetchControl& control, const WinInetApi& api, HINTERNET handle, HINTERNET FetchControl::*slot)
{
    AcquireSRWLockExclusive(&control.lock);
    const bool aborted = control.aborted;
    if (!aborted)
        control.*slot = handle;
    ReleaseSRWLockExclusive(&control.lock);
    if (aborted)
        api.InternetCloseHandle(handle);
    return !aborted;
}

// Closes the fetch's handles unless AbortFetch already did.
void CloseHandles(FetchControl& control, const WinInetApi& api)
{
    AcquireSRWLockExclusive(&control.lock);
    if (!control.aborted) {
        if (control.request)
            api.InternetCloseHandle(control.request);
        if (control.session)
            api.InternetCloseHandle(control.session);
    }
    control.request = nullptr;
    control.session = nullptr;
    ReleaseSRWLockExclusive(&control.lock);
}

bool Aborted(FetchControl& control)
{
    AcquireSRWLockShared(&control.lock);
    const bool aborted = control.aborted;
    ReleaseSRWLockShared(&control.lock);
    return aborted;
}

void NoteProgress(FetchControl& control)
{
    InterlockedExchange64(&control.lastActivity, static_cast<LONG64>(GetTickCount64()));
}

void SetTimeouts(const WinInetApi& api, HINTERNET session, DWORD ms)
{
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT})
        api.InternetSetOptionW(session, option, &ms, sizeof ms);
}

FetchResult Transfer(const WinInetApi& api, const std::string& url, const std::wstring& target,
                     FetchControl& control, FetchedBody& body, FetchReport& report)
{
    const HINTERNET session = api.InternetOpenA("SetupApp", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session) {
        report.failedStep = L"InternetOpenA";
        report.error = GetLastError();
        return FetchResult::Failed;
    }
    if (!Publish(control, api, session, &FetchControl::session))
        return FetchResult::Cancelled;
    SetTimeouts(api, session, control.timeoutMs);

    const HINTERNET request = api.InternetOpenUrlA(session, url.c_str(), nullptr, 0, RequestFlags, 0);
    if (!request) {
        report.failedStep = L"InternetOpenUrlA";
        report.error = GetLastError();
        return Aborted(control) ? FetchResult::Cancelled : FetchResult::Failed;
    }
    if (!Publish(control, api, request, &FetchControl::request))
        return FetchResult::Cancelled;
    NoteProgress(control);

    // No flag lets WinINet follow an https URL to plain http; this holds wherever it would.
    if (StartsWith(url, "https://") && !StartsWith(FinalUrl(api, request), "https://")) {
        report.failedStep = L"redirect to plain http";
        return FetchResult::Failed;
    }

    report.httpStatus = StatusCode(api, request);
    const bool statusOk = report.httpStatus >= 200 && report.httpStatus < 300;
    report.announced = AnnouncedLength(api, request);
    if (report.announced == 0 && control.onProgress)
        control.onProgress(0, control.progressContext);

    BodySink sink{target, body, INVALID_HANDLE_VALUE, std::wstring()};
    const std::unique_ptr<char[]> block(new char[ReadSize]);
    int shownPercent = -1;
    for (;;) {
        DWORD count = 0;
        if (!api.InternetReadFile(request, block.get(), ReadSize, &count)) {
            report.failedStep = L"InternetReadFile";
            report.error = GetLastError();
            sink.Discard();
            return Aborted(control) ? FetchResult::Cancelled : FetchResult::Failed;
        }
        NoteProgress(control);
        if (count == 0)
            break;
        report.received += count;
        // An error page is never taken in, however long: only a status text can follow one.
        if (!statusOk && report.received > LongestStatusReply) {
            report.failedStep = L"HTTP status";
            sink.Discard();
            return FetchResult::Failed;
        }
        if (Aborted(control)) {  // nothing more goes to disk once the fetch was given up
            sink.Discard();
            return FetchResult::Cancelled;
        }
        if (!sink.Take(block.get(), count, report)) {
            sink.Discard();
            return FetchResult::NotSaved;
        }
        if (report.announced != 0 && control.onProgress) {
            const int percent = static_cast<int>(report.received * 100 / report.announced);
            if (percent != shownPercent) {
                shownPercent = percent;
                control.onProgress(percent, control.progressContext);
            }
        }
    }
    if (Aborted(control)) {
        sink.Discard();
        return FetchResult::Cancelled;
    }
    // WinINet ends a body cut short by a clean close like a whole one; only the count shows it.
    if (report.announced != 0 && report.received < report.announced) {
        report.failedStep = L"body shorter than announced";
        sink.Discard();
        return FetchResult::Failed;
    }
    if (!statusOk && (!control.statusTextOnError || !IsStatusReply(body.small))) {
        report.failedStep = L"HTTP status";
        sink.Discard();
        return FetchResult::Failed;
    }
    if (!sink.Close(report)) {
        sink.Discard();
        return FetchResult::NotSaved;
    }
    body.size = report.received;
    return FetchResult::Complete;
}

}  // namespace

FetchControl::FetchControl()
    : timeoutMs(DOWNLOAD_NET_TIMEOUT_MS), lastActivity(static_cast<LONG64>(GetTickCount64()))
{
}

FetchResult FetchUrl(const std::string& url, const std::wstring& target, FetchControl& control,
                     FetchedBody& body, FetchReport& report)
{
    body = FetchedBody();
    report = FetchReport();
    const ULONGLONG start = GetTickCount64();
    InterlockedExchange64(&control.lastActivity, static_cast<LONG64>(start));
    const WinInetApi* api = WinInet();
    FetchResult result = FetchResult::Failed;
    if (api) {
        result = Transfer(*api, url, target, control, body, report);
        CloseHandles(control, *api);
    } else {
        report.failedStep = L"LoadLibraryExW(wininet.dll)";
        report.error = GetLastError();
    }
    if (result == FetchResult::Cancelled) {
        // Whatever the closed handles made the blocked call say, it was the user's doing.
        report.failedStep = L"cancelled";
        report.error = 0;
    }
    report.milliseconds = static_cast<DWORD>(GetTickCount64() - start);
    return result;
}

void AbortFetch(FetchControl& control)
{
    const WinInetApi* api = WinInet();
    AcquireSRWLockExclusive(&control.lock);
    if (!control.aborted) {
        control.aborted = true;
        // Closing the handles is what makes a blocked connect or read return.
        if (api && control.request)
            api->InternetCloseHandle(control.request);
        if (api && control.session)
            api->InternetCloseHandle(control.session);
    }
    ReleaseSRWLockExclusive(&control.lock);
}

ULONGLONG MillisecondsSinceProgress(const FetchControl& control)
{
    const LONG64 last = InterlockedCompareExchange64(const_cast<volatile LONG64*>(&control.lastActivity), 0, 0);
    return GetTickCount64() - static_cast<ULONGLONG>(last);
}

bool KeepFetchedBody(const FetchedBody& body, const std::wstring& target)
{
    const bool kept = body.inTemporary ? ReplaceWithTemporary(TemporaryPathFor(target), target)
                                       : SaveBuffer(body.small, target);
    const DWORD error = GetLastError();
    LogEvent(L"save " + target + L" (" + DecimalText(body.size) + L" bytes): " +
             (kept ? std::wstring(L"done") : L"failed, error " + ErrorText(error)));
    return kept;
}

void DropFetchedBody(const FetchedBody& body, const std::wstring& target)
{
    if (body.inTemporary)
        DeleteFileW(TemporaryPathFor(target).c_str());
}
