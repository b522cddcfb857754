// Fetching one URL straight into a temporary file beside its target, with progress, timeouts and
// the system proxy; a fetch can run on a worker thread and be aborted from another thread.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "base/byte_buffer.h"

enum class FetchResult {
    Complete,   // the whole body arrived, with a 2xx status (any status for a status text,
                // unless FetchControl::statusTextOnError is off)
    Failed,     // no connection, an error status, a broken, short or stalled transfer
    NotSaved,   // the temporary file could not be created or written: the fetch stopped there
    Cancelled,  // AbortFetch was called
};

// Where a complete body is. A body of up to 32 bytes (the size of the server's status texts) is
// only ever held in memory, so a status reply is never written anywhere by the fetch; a longer
// one goes to TemporaryPathFor(target) as it arrives.
struct FetchedBody {
    ByteBuffer small;
    bool inTemporary = false;
    uint64_t size = 0;
};

// What happened, for the log.
struct FetchReport {
    DWORD httpStatus = 0;
    uint64_t announced = 0;   // Content-Length, 0 when none was sent
    uint64_t received = 0;
    DWORD milliseconds = 0;
    const wchar_t* failedStep = nullptr;  // the call or check that failed
    DWORD error = 0;                      // its error code, when it has one
};

using ProgressCallback = void (*)(int percent, void* context);

// Shared by the thread that fetches and a thread that may abort it.
struct FetchControl {
    SRWLOCK lock = SRWLOCK_INIT;
    HINTERNET session = nullptr;
    HINTERNET request = nullptr;
    bool aborted = false;
    ProgressCallback onProgress = nullptr;  // called when the whole percentage changes
    void* progressContext = nullptr;
    DWORD timeoutMs;                        // connect, send and receive, each
    volatile LONG64 lastActivity;           // GetTickCount64 when the fetch last made progress
    bool statusTextOnError = true;          // a status text counts whatever the HTTP status

    FetchControl();
};

// GETs the URL ("SetupApp", the system's proxy settings, nothing written to the Internet cache).
// An empty target reads the body to its end and drops it. On every result but Complete nothing
// of the body is left on disk.
FetchResult FetchUrl(const std::string& url, const std::wstring& target, FetchControl& control,
                     FetchedBody& body, FetchReport& report);

// Ends a FetchUrl running on another thread as soon as possible (closes its handles); the
// fetch then returns Cancelled. Wine's WinINet does not return from a blocked call when its
// handle is closed, so a caller must be ready to leave a fetch that does not end.
void AbortFetch(FetchControl& control);

// Milliseconds since the fetch last connected or received data.
ULONGLONG MillisecondsSinceProgress(const FetchControl& control);

// Puts a complete body in the target's place: the temporary file renamed over it, or the small
// body saved through a temporary file. False leaves the previous target as it was.
bool KeepFetchedBody(const FetchedBody& body, const std::wstring& target);

// Removes what a complete body left behind (its temporary file), when it is not kept.
void DropFetchedBody(const FetchedBody& body, const std::wstring& target);
