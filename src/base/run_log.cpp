// Download.log: one UTF-8 line per event, appended and written through at once, capped at 1 MiB.
#include "base/run_log.h"

#include "base/program.h"

namespace {

constexpr uint64_t LogCap = 1024 * 1024;

// The lock exists before any thread can log: it is set up with the program's static objects.
struct LogLock {
    CRITICAL_SECTION section;
    LogLock() { InitializeCriticalSection(&section); }
};
LogLock Lock;

// Logging between a failing call and the GetLastError that reads its code must not change that
// code: every entry point gives the caller back its last error.
class KeepLastError {
public:
    KeepLastError() : code_(GetLastError()) {}
    ~KeepLastError() { SetLastError(code_); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

private:
    DWORD code_;
};

class Locked {
public:
    Locked() { EnterCriticalSection(&Lock.section); }
    ~Locked() { LeaveCriticalSection(&Lock.section); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    KeepLastError keep_;  // destroyed after the lock is left
};

HANDLE LogFile = INVALID_HANDLE_VALUE;
std::wstring LogPath, OldLogPath;
uint64_t LogSize = 0;

// Append-only access: every WriteFile lands at the current end, even with another run writing
// the same file. Readers and other writers are welcome; a program that holds the file without
// sharing makes the open fail, and the run goes on without a log.
HANDLE OpenAppending(const std::wstring& path, uint64_t& size)
{
    size = 0;
    // Windows refuses to write a read-only file; asking first keeps it so for a process that
    // could override it (Wine running as root does).
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER length;
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &length))
        size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

void CloseLocked()
{
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}

// The full log moves aside, replacing the previous old log. When it cannot move, it stays and is
// appended to; the next line tries again.
void RotateLocked()
{
    CloseLocked();
    MoveFileExW(LogPath.c_str(), OldLogPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    LogFile = OpenAppending(LogPath, LogSize);
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
}

void AppendPadded(std::wstring& text, unsigned value, size_t width)
{
    const std::wstring digits = DecimalText(value);
    if (digits.size() < width)
        text.append(width - digits.size(), L'0');
    text += digits;
}

// "2024-05-01 14:03:07.123"
std::wstring LocalTimestamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const struct { unsigned value; size_t width; wchar_t after; } parts[] = {
        {now.wYear, 4, L'-'}, {now.wMonth, 2, L'-'}, {now.wDay, 2, L' '},  {now.wHour, 2, L':'},
        {now.wMinute, 2, L':'}, {now.wSecond, 2, L'.'}, {now.wMilliseconds, 3, L'\0'},
    };
    std::wstring text;
    for (const auto& part : parts) {
        AppendPadded(text, part.value, part.width);
        if (part.after)
            text += part.after;
    }
    return text;
}

std::wstring WindowsVersion()
{
    // RtlGetVersion tells the truth; GetVersionEx answers what the manifest claims to support.
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const RtlGetVersionFn getVersion =
        ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!getVersion || getVersion(&info) != 0)
        return L"unknown";
    return DecimalText(info.dwMajorVersion) + L"." + DecimalText(info.dwMinorVersion) + L"." +
           DecimalText(info.dwBuildNumber);
}

std::wstring ElevationText()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return L"unknown";
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    if (!known)
        return L"unknown";
    return elevation.TokenIsElevated ? L"yes" : L"no";
}

std::wstring WorkingFolder()
{
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return std::wstring();
    std::wstring folder(size, L'\0');
    folder.resize(GetCurrentDirectoryW(size, &folder[0]));
    return folder;
}

// The system's text for a code, without the line break it ends with; empty when there is none.
std::wstring SystemText(DWORD code)
{
    KeepLastError keep;
    DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    HMODULE source = nullptr;
    if (code >= 12000 && code < 12200) {
        // WinINet keeps its texts in its own module; only ask it when the program has loaded it.
        source = GetModuleHandleW(L"wininet.dll");
        if (source)
            flags = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_HMODULE;
    }
    wchar_t text[512];
    DWORD length = FormatMessageW(flags, source, code, 0, text, 512, nullptr);
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L' '))
        --length;
    return std::wstring(text, length);
}

}  // namespace

void OpenRunLog(const std::wstring& folder)
{
    Locked lock;
    CloseLocked();
    LogPath = folder + L"\\Download.log";
    OldLogPath = folder + L"\\Download.old.log";
    LogFile = OpenAppending(LogPath, LogSize);
}

void LogRunHeader(const std::wstring& version, const std::wstring& serverBase)
{
    KeepLastError keep;
    LogEvent(L"start Download " + version + L", Windows " + WindowsVersion() + L", elevated " +
             ElevationText() + L", program " + ProgramDir + L", working " + WorkingFolder() +
             L", server " + serverBase);
}

void LogEvent(const std::wstring& text)
{
    Locked lock;
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    std::wstring line = LocalTimestamp() + L" " + text;
    // One event, one line, whatever the text holds.
    for (wchar_t& c : line)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    line += L"\r\n";
    const std::string bytes = Utf8(line);
    if (LogSize > 0 && LogSize + bytes.size() > LogCap) {
        RotateLocked();
        if (LogFile == INVALID_HANDLE_VALUE)
            return;
    }
    // Straight to the system with one call: the line survives a killed run and never mixes with
    // another run's line.
    DWORD written = 0;
    if (WriteFile(LogFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        LogSize += written;
}

void CloseRunLog()
{
    Locked lock;
    CloseLocked();
}

std::wstring DecimalText(uint64_t value)
{
    wchar_t digits[24];
    wchar_t* start = digits + 24;
    do {
        *--start = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(start, digits + 24);
}

std::wstring HexText(uint32_t value)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

std::wstring ErrorText(DWORD code)
{
    const std::wstring text = SystemText(code);
    return text.empty() ? DecimalText(code) : DecimalText(code) + L" (" + text + L")";
}

std::wstring HresultText(HRESULT hr)
{
    const std::wstring text = SystemText(static_cast<DWORD>(hr));
    const std::wstring hex = HexText(static_cast<uint32_t>(hr));
    return text.empty() ? hex : hex + L" (" + text + L")";
}
