// HTTP fetch through WinINet and atomic buffer saving.
#include "net/fetch.h"

#include <cstdio>
#include <cstdint>
#include <new>

#include "net/protocol.h"
#include "net/wininet_api.h"
#include "ui/progress_window.h"

namespace {

constexpr DWORD ChunkSize = 4096;

// A status text is 32 bytes; an error reply longer than that is not read to its end.
constexpr size_t LongestStatusReply = 32;

bool IsSuccessStatus(const WinInetApi& api, HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!api.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, nullptr))
        return false;
    return status >= 200 && status < 300;
}

DWORD AnnouncedLength(const WinInetApi& api, HINTERNET request)
{
    DWORD length = 0;
    DWORD size = sizeof length;
    api.HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size,
                       nullptr);
    return length;
}

// Reads the body to its end; false on a read error, on memory exhaustion, or (for an error
// status) as soon as the body is longer than any status text.
bool ReadBody(const WinInetApi& api, HINTERNET request, DWORD announced, bool statusOk,
              ByteBuffer& buffer)
{
    char chunk[ChunkSize];
    uint64_t received = 0;
    for (;;) {
        DWORD count = 0;
        if (!api.InternetReadFile(request, chunk, ChunkSize, &count))
            return false;
        if (count == 0)
            return true;
        try {
            buffer.insert(buffer.end(), chunk, chunk + count);
        } catch (const std::bad_alloc&) {
            return false;
        }
        received += count;
        if (announced != 0)
            SetProgress(static_cast<int>(received * 100 / announced));
        if (!statusOk && buffer.size() > LongestStatusReply)
            return false;
    }
}

}  // namespace

HINTERNET OpenInternetSession()
{
    const WinInetApi* api = WinInet();
    if (!api)
        return nullptr;
    return api->InternetOpenA("SetupApp", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

bool DownloadToBuffer(const std::string& url, ByteBuffer& buffer, HINTERNET session)
{
    SetStatusSearching();
    const WinInetApi* api = WinInet();
    if (!api)
        return false;  // no session can exist without WinINet

    const HINTERNET request =
        api->InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
    if (!request) {
        api->InternetCloseHandle(session);
        return false;
    }

    const bool statusOk = IsSuccessStatus(*api, request);
    const DWORD announced = AnnouncedLength(*api, request);
    if (announced == 0)
        SetProgress(0);

    buffer.clear();
    bool complete = ReadBody(*api, request, announced, statusOk, buffer);
    // WinINet ends a body cut short by a clean close like a whole one; only the count shows it.
    if (complete && announced != 0 && buffer.size() < announced)
        complete = false;
    if (complete && !statusOk && !IsStatusReply(buffer))
        complete = false;
    if (!complete)
        ByteBuffer().swap(buffer);

    api->InternetCloseHandle(request);
    api->InternetCloseHandle(session);
    return complete;
}
