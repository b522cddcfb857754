// Benchmark probes, one measurement per process so that peak memory is the probe's own:
//   bench serve PORT BYTES          serve BYTES at /big on 127.0.0.1:PORT until killed
//   bench fetch URL ours|bare|ui FILE  one fetch saved as FILE (deleted after):
//                                   "<ms> <peak private bytes> <body bytes>"
//   bench md5 PATH ours|bare        one MD5: "<ms> <hex>"
//   bench startup EXE CAPTION       start EXE, wait for its dialog to be visible: "<ms>"
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>
#include <wininet.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/background_fetch.h"
#include "net/fetch.h"
#include "package/fingerprint.h"
#include "support/test_server.h"
#include "support/win_helpers.h"
#include "ui/progress_window.h"

namespace {

double Milliseconds(const LARGE_INTEGER& from)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - from.QuadPart) * 1000.0 / frequency.QuadPart;
}

size_t PeakPrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;  // the peak of the process's private commit
}

// The same WinINet calls and read size writing straight to a file, with nothing else: no
// status, no checks, no progress, no thread.
bool BareFetch(const std::string& url, const std::wstring& path, uint64_t& bytes)
{
    const HINTERNET session = InternetOpenA("SetupApp", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    const HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request)
        return false;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::vector<char> chunk(64 * 1024);
    DWORD count = 0, written = 0;
    while (InternetReadFile(request, chunk.data(), static_cast<DWORD>(chunk.size()), &count) && count > 0) {
        WriteFile(file, chunk.data(), count, &written, nullptr);
        bytes += count;
    }
    CloseHandle(file);
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    return true;
}

std::string BareMd5(const std::wstring& path)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
    FILE* file = _wfopen(path.c_str(), L"rb");
    unsigned char block[4096];
    size_t count;
    while ((count = fread(block, 1, sizeof block, file)) > 0)
        CryptHashData(hash, block, static_cast<DWORD>(count), 0);
    fclose(file);
    BYTE digest[16];
    DWORD size = 16;
    CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return HexDigits(digest, size);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring mode = argv[1];
    if (mode == L"serve") {
        TestServer server("127.0.0.1", static_cast<uint16_t>(_wtoi(argv[2])));
        std::string body(static_cast<size_t>(_wtoi64(argv[3])), '\0');
        for (size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>(i * 131 + (i >> 12));
        server.Route("/big", {Reply{200, body}});
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            Sleep(1000);
    }
    if (mode == L"fetch") {
        const std::string url = Narrow(argv[2]);
        const std::wstring how = argv[3];
        if (how == L"ui")
            ShowProgressWindow();  // the status calls then really repaint a label and a bar
        const std::wstring target = argv[4];
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        uint64_t bytes = 0;
        bool ok;
        if (how == L"bare") {
            ok = BareFetch(url, target, bytes);
        } else {
            // The program's own path: a worker thread, the window's thread waiting on it while
            // it dispatches messages, then the temporary file put in the target's place.
            FetchedBody body;
            ok = FetchInBackground(url, target, body) == FetchResult::Complete && KeepFetchedBody(body, target);
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data);
            bytes = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        const double ms = Milliseconds(start);
        DeleteFileW(target.c_str());
        std::printf("%.1f %zu %llu\n", ms, PeakPrivateBytes(), static_cast<unsigned long long>(ok ? bytes : 0));
        return ok ? 0 : 1;
    }
    if (mode == L"md5") {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        const std::string hex = std::wstring(argv[3]) == L"bare" ? BareMd5(argv[2]) : ComputeFileMd5(argv[2]);
        std::printf("%.1f %s\n", Milliseconds(start), hex.c_str());
        return 0;
    }
    if (mode == L"startup") {
        std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        if (!CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return 1;
        HWND dialog = nullptr;
        while (!(dialog = FindDialog(argv[3], process.dwProcessId)) || !IsWindowVisible(dialog))
            Sleep(1);
        std::printf("%.1f\n", Milliseconds(start));
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return 0;
    }
    return 2;
}
