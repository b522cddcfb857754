// Benchmark probes, one measurement per process so that peak memory is the probe's own (the
// bodies come from bench/serve.py, a separate process):
//   bench fetch URL ours|ui|bare FILE [KIB]  one fetch saved as FILE (deleted after):
//                                   "<ms> <peak private bytes> <body bytes> <cpu ms>"; ours is the
//                                   program's fetch, ui the same with the progress window shown,
//                                   bare a plain WinINet loop reading KIB (default 64) at a time
//   bench md5 PATH ours|bare        one MD5: "<ms> <hex>"
//   bench startup EXE CAPTION       start EXE, wait for its dialog to be visible: "<ms>"
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/background_fetch.h"
#include "net/fetch.h"
#include "package/fingerprint.h"
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

// User and kernel time of the whole process so far: less swayed than wall time by other work
// on the machine.
double CpuMilliseconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

// The process's private commit, sampled: Wine reports PeakPagefileUsage as the current figure,
// so the peak is the largest sample (or Windows' own peak, where it keeps one).
struct PrivateBytesWatch {
    volatile LONG stop = 0;
    size_t peak = 0;
    HANDLE thread = nullptr;

    void Sample()
    {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        peak = std::max({peak, static_cast<size_t>(counters.PagefileUsage),
                         static_cast<size_t>(counters.PeakPagefileUsage)});
    }

    static DWORD WINAPI Run(void* parameter)
    {
        auto& watch = *static_cast<PrivateBytesWatch*>(parameter);
        while (!watch.stop) {
            watch.Sample();
            Sleep(2);
        }
        return 0;
    }

    void Start() { thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }

    size_t Finish()
    {
        InterlockedExchange(&stop, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        Sample();
        return peak;
    }
};

// The same WinINet calls and flags writing straight to a file, with nothing else: no status, no
// checks, no progress, no thread.
bool BareFetch(const std::string& url, const std::wstring& path, size_t readSize, uint64_t& bytes)
{
    const HINTERNET session = InternetOpenA("SetupApp", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    const HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request)
        return false;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::vector<char> chunk(readSize);
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
    if (mode == L"fetch") {
        if (argc < 5)
            return 2;
        const std::string url = Narrow(argv[2]);
        const std::wstring how = argv[3];
        if (how == L"ui")
            ShowProgressWindow();  // the status calls then really repaint a label and a bar
        const std::wstring target = argv[4];
        const size_t readSize = (argc > 5 ? _wtoi(argv[5]) : 64) * size_t{1024};
        PrivateBytesWatch watch;
        watch.Start();
        const double cpuStart = CpuMilliseconds();
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        uint64_t bytes = 0;
        bool ok;
        if (how == L"bare") {
            ok = BareFetch(url, target, readSize, bytes);
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
        const size_t peak = watch.Finish();
        const double cpu = CpuMilliseconds() - cpuStart;
        DeleteFileW(target.c_str());
        std::printf("%.1f %zu %llu %.1f\n", ms, peak, static_cast<unsigned long long>(ok ? bytes : 0), cpu);
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
