// The end-to-end fixture: the real Download.exe (test build, server base on loopback) started in
// a fresh program folder, driven through its windows like a person, against the scripted
// server, with the fake Shell registered in this Wine prefix and the fixture unzip tool and
// installer. Shared by every end-to-end test file.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#include <winioctl.h>

#include <cstring>
#include <cwctype>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/fixture_log.h"
#include "fixtures/zip_file.h"
#include "support/test_server.h"
#include "support/win_helpers.h"


inline const wchar_t ShellKey[] = L"Software\\Classes\\CLSID\\{13709620-C279-11CE-A49E-444553540000}\\InprocServer32";
inline const wchar_t SavedShellValue[] = L"DownloadTestsOriginal";
const int CodeEdit = 1002;
const int StatusLabel = 1001;
const std::string Zeros(32, '0');
const std::string NotFound = std::string(30, '0') + "FF";
const int64_t Second = 10000000;  // FILETIME ticks

const wchar_t FirstFetchFailed[] = L"Không thể tải file ZIP khi thư mục chưa có.";
const wchar_t ProductNotFound[] = L"Không tìm thấy bộ cài đặt cho mã sản phẩm này.";
const wchar_t PackageNotSaved[] = L"Không lưu được tệp tin ZIP.";
const wchar_t SetupMissing[] = L"Không tìm thấy setup.exe sau khi giải nén.";
const wchar_t ToolNotFetched[] = L"Không tải được công cụ giải nén.";
const wchar_t ToolNotSaved[] = L"Lỗi lưu tệp.";
const wchar_t ToolNotStarted[] = L"Không tìm thấy Setup.exe, vui lòng kiểm tra và thử lại!";
const wchar_t UpdateCheckFailed[] = L"Không thể kiểm tra cập nhật từ server.";
const wchar_t UpdateNotSaved[] = L"Không tải được bộ cài đặt.";
const wchar_t OpenZipFailed[] = L"Không thể mở tệp ZIP.";
const wchar_t CopyFailed[] = L"Không thể giải nén tệp ZIP.";

inline std::string Fixture(const wchar_t* name) { return ReadFileOrEmpty(ExeDir() + L"\\" + name); }

inline std::string PackageWithSetup(const std::string& note = "v1")
{
    return MakeZip({{"Setup.exe", Fixture(L"fake_setup.exe")}, {"readme.txt", note}});
}

inline std::string Md5Hex(const std::string& bytes)
{
    // Same algorithm through a second, independent route: CryptoAPI on the bytes.
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
    CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0);
    BYTE digest[16];
    DWORD size = 16;
    CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : digest) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

struct Scenario {
    std::vector<Reply> query;           // replies of /vazid.php, in order (last repeats)
    std::vector<Reply> tool;            // replies of /vazid/unzip.exe
    bool serverUp = true;
    std::wstring shell = L"copy";       // the fake Shell's script
    std::string cachedPackage;          // placed as the package before the start (update road)
    std::string earlierSetup;           // placed as Setup.exe in the install folder
    bool toolIsFolder = false;          // a folder stands where unzip.exe would be saved
    bool packageTempIsFolder = false;   // the package cannot be written
    bool workElsewhere = false;         // start with another working directory
    bool atDriveRoot = false;           // the program in the root of a drive mapped to its folder,
                                        // started from another folder of that drive
    std::wstring dirName = L"dl-e2e";
    std::wstring unzipSleepMs;          // the fixture tool waits this long first
    std::string code = "AB12C";
    bool closeDialog = false;           // close the code dialog instead of typing
    bool plantWininet = false;
    std::wstring exe = L"Download.exe";  // which build of the program runs (as Download.exe)
    bool viaProxy = false;              // the prefix's Internet Settings name a loopback proxy,
                                        // which serves the replies; nothing listens at the base
    bool probeWindow = false;           // ask the progress window for an answer all the time

    // The person clicks Cancel (the button, Esc or the caption's close button) once the moment
    // comes, and answers the question Yes or No.
    enum class CancelAt { Never, Download, Pause, ToolWait, ErrorBox };
    enum class CancelBy { Button, Escape, CloseBox };
    CancelAt cancelAt = CancelAt::Never;
    CancelBy cancelBy = CancelBy::Button;
    bool answerYes = true;
};

struct Outcome {
    DWORD exitCode = 999;
    std::vector<std::wstring> messages;
    std::vector<Request> requests;
    std::vector<LogLine> log;
    bool progressSeen = false;
    int64_t startedAt = 0, endedAt = 0;

    // Cancel
    bool cancelClicked = false;
    std::vector<std::wstring> questions;     // the texts of every question box seen
    bool questionWellFormed = false;         // caption Setup, Yes and No, owned by the window
    bool windowVisibleAfterClick = true;     // the progress window was not hidden by the click

    // Responsiveness, as Windows sees it: WM_NULL sent with SMTO_ABORTIFHUNG and 200 ms
    int probes = 0;
    int unanswered = 0;
    DWORD slowestAnswerMs = 0;
};

class EndToEnd : public ::testing::Test {
protected:
    // Wine-only set-up: Wine's Shell object cannot open a ZIP, so the fake Shell is put in the
    // program's way in this test prefix (Wine reads the HKLM copy, not HKCU). Each test runs in
    // a process of its own and may be killed half-way: the original value is parked beside ours
    // once and put back from there, so neither a repeat nor a missed tear-down loses it.
    static void SetUpTestSuite()
    {
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ShellKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
            return;
        const std::wstring fake = ExeDir() + L"\\fake_shell.dll";
        if (RegQueryValueExW(key, SavedShellValue, nullptr, nullptr, nullptr, nullptr) != 0) {
            const std::wstring original = ShellServer(key, nullptr);
            if (original != fake)
                SetShellServer(key, SavedShellValue, original);
        }
        SetShellServer(key, nullptr, fake);
        RegCloseKey(key);
    }
    static void TearDownTestSuite()
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ShellKey, 0, KEY_ALL_ACCESS, &key) != 0)
            return;
        if (RegQueryValueExW(key, SavedShellValue, nullptr, nullptr, nullptr, nullptr) == 0) {
            SetShellServer(key, nullptr, ShellServer(key, SavedShellValue));
            RegDeleteValueW(key, SavedShellValue);
        }
        RegCloseKey(key);
    }
    static std::wstring ShellServer(HKEY key, const wchar_t* value)
    {
        wchar_t text[MAX_PATH] = {};
        DWORD size = sizeof text - sizeof(wchar_t);
        RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        return text;
    }
    static void SetShellServer(HKEY key, const wchar_t* value, const std::wstring& dll)
    {
        RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                       static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
    }

    virtual void Prepare(const Scenario& s)
    {
        dir = std::make_unique<ScratchDir>(s.dirName);
        elsewhere = std::make_unique<ScratchDir>(L"dl-e2e-cwd");
        logs = std::make_unique<ScratchDir>(L"dl-e2e-log");
        const std::wstring& d = dir->Path();
        ASSERT_TRUE(WriteFileBytes(d + L"\\Download.exe", Fixture(s.exe.c_str())));
        if (!s.cachedPackage.empty()) {
            ASSERT_TRUE(WriteFileBytes(Package(), s.cachedPackage));
        }
        if (!s.earlierSetup.empty()) {
            CreateDirectoryW(InstallFolder().c_str(), nullptr);
            ASSERT_TRUE(WriteFileBytes(Installer(), s.earlierSetup));
        }
        if (s.toolIsFolder)
            CreateDirectoryW((d + L"\\unzip.exe").c_str(), nullptr);
        if (s.packageTempIsFolder)
            CreateDirectoryW((Package() + L".part").c_str(), nullptr);
        if (s.plantWininet) {
            ASSERT_TRUE(WriteFileBytes(d + L"\\wininet.dll", Fixture(L"planted_wininet.dll")));
        }
    }

    Outcome Run(const Scenario& s)
    {
        Outcome out;
        Prepare(s);
        if (HasFatalFailure())
            return out;
        std::unique_ptr<TestServer> server;
        if (s.serverUp && s.viaProxy) {
            server = std::make_unique<TestServer>("127.0.0.1", 0);
            server->ActAsProxy();
            SetProxy("127.0.0.1:" + std::to_string(server->Port()));
        } else if (s.serverUp) {
            server = std::make_unique<TestServer>(ServerHost(), 80);
            EXPECT_TRUE(server->Listening()) << "cannot listen on " << ServerHost() << ":80";
        }
        if (server) {
            server->Route("/vazid.php", s.query);
            server->Route("/vazid/unzip.exe", s.tool.empty() ? std::vector<Reply>{Reply{200, Fixture(L"unzip.exe")}} : s.tool);
        }
        std::wstring programFolder = dir->Path();
        std::wstring cwd = s.workElsewhere ? elsewhere->Path() : dir->Path();
        if (s.atDriveRoot) {
            drive = MapDrive(dir->Path());
            EXPECT_FALSE(drive.empty()) << "no drive letter free";
            if (drive.empty())
                return out;
            CreateDirectoryW((dir->Path() + L"\\elsewhere").c_str(), nullptr);
            programFolder = drive;
            cwd = drive + L"\\elsewhere";
        }
        SetEnvironmentVariableW(L"DL_FIXTURE_LOG", Log().c_str());
        SetEnvironmentVariableW(L"DL_FAKE_SHELL", s.shell.c_str());
        SetEnvironmentVariableW(L"DL_UNZIP_SLEEP_MS", s.unzipSleepMs.empty() ? nullptr : s.unzipSleepMs.c_str());
        SetEnvironmentVariableW(L"WINEDLLOVERRIDES", s.plantWininet ? L"wininet=n,b;mscoree,mshtml=" : L"mscoree,mshtml=");

        const std::wstring exe = programFolder + L"\\Download.exe";
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        out.startedAt = NowTicks();
        BOOL started = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      cwd.c_str(), &startup, &process);
        DWORD startError = started ? 0 : GetLastError();
        if (!started) {
            // Seen once under Wine right after the previous test's server went away: try again.
            Sleep(1000);
            started = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                     cwd.c_str(), &startup, &process);
        }
        for (const wchar_t* name : {L"DL_FIXTURE_LOG", L"DL_FAKE_SHELL", L"DL_UNZIP_SLEEP_MS"})
            SetEnvironmentVariableW(name, nullptr);
        SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"mscoree,mshtml=");
        EXPECT_TRUE(started) << "CreateProcessW failed twice, first with error " << startError << ", then "
                             << (started ? 0 : GetLastError());
        if (startError)
            std::printf("CreateProcessW failed once with error %lu; the second start %s\n", startError,
                        started ? "worked" : "failed too");
        if (!started)
            return out;

        std::atomic<bool> running{true};
        std::thread probe;
        if (s.probeWindow)
            probe = std::thread([&] { ProbeWindow(process.dwProcessId, running, out); });
        Drive(s, process, out);
        out.endedAt = NowTicks();
        running = false;
        if (probe.joinable())
            probe.join();
        if (s.viaProxy)
            SetProxy(std::string());
        GetExitCodeProcess(process.hProcess, &out.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        if (server)
            out.requests = server->Requests();
        Sleep(200);  // a launched installer writes its line right after it starts
        out.log = ReadFixtureLog(Log());
        return out;
    }

    void TearDown() override
    {
        if (!drive.empty())
            SetWineDrive(drive[0], std::string());
    }

    // The proxy of this prefix's user, as the Internet Options of Windows set it; empty: none.
    static void SetProxy(const std::string& hostPort)
    {
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
            return;
        const DWORD enable = hostPort.empty() ? 0 : 1;
        RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
        const std::wstring server = WideUtf8(hostPort);
        if (hostPort.empty())
            RegDeleteValueW(key, L"ProxyServer");
        else
            RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                           static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    // From the moment the progress window exists to the program's end, asks it for an answer
    // every 20 ms the way Windows decides that a window is not responding.
    static void ProbeWindow(DWORD processId, const std::atomic<bool>& running, Outcome& out)
    {
        while (running) {
            const HWND window = FindDialog(L"Setup", processId, StatusLabel);
            if (window) {
                const ULONGLONG start = GetTickCount64();
                DWORD_PTR result = 0;
                const LRESULT answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &result);
                const DWORD took = static_cast<DWORD>(GetTickCount64() - start);
                if (!running)
                    break;  // the process ended while we asked
                ++out.probes;
                if (!answered && IsWindow(window))
                    ++out.unanswered;
                else if (answered && took > out.slowestAnswerMs)
                    out.slowestAnswerMs = took;
            }
            Sleep(20);
        }
    }

    static bool CancelMomentHasCome(const Scenario& s, HWND progress, const std::wstring& fixtureLog)
    {
        const std::wstring label = WindowText(GetDlgItem(progress, StatusLabel));
        switch (s.cancelAt) {
        case Scenario::CancelAt::Download:
            return label.find(L"% tải về") != std::wstring::npos && label.find(L"Vui lòng") == std::wstring::npos;
        case Scenario::CancelAt::Pause:
            return label == L"100% tải về. Vui lòng đợi ...";
        case Scenario::CancelAt::ToolWait:
            for (const LogLine& line : ReadFixtureLog(fixtureLog))
                if (line.who == L"unzip")
                    return true;
            return false;
        default:
            return false;
        }
    }

    static void ClickCancel(const Scenario& s, HWND progress)
    {
        switch (s.cancelBy) {
        case Scenario::CancelBy::Button:
            ClickButton(progress, IDCANCEL);
            break;
        case Scenario::CancelBy::Escape:
            PressKey(GetDlgItem(progress, IDCANCEL), VK_ESCAPE);
            break;
        case Scenario::CancelBy::CloseBox:
            PostMessageW(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        }
    }

    // Answers the question the click raised (it must come within 5 s).
    static void AnswerQuestion(const Scenario& s, DWORD processId, HWND progress, Outcome& out)
    {
        HWND question = nullptr;
        WaitUntil([&] {
            question = FindDialog(L"Setup", processId, IDYES);
            return question != nullptr;
        }, 5000);
        if (!question) {
            ADD_FAILURE() << "no question after Cancel";
            return;
        }
        out.questions.push_back(MessageBoxText(question));
        out.questionWellFormed = GetDlgItem(question, IDYES) && GetDlgItem(question, IDNO) &&
                                 !GetDlgItem(question, IDOK) && GetWindow(question, GW_OWNER) == progress;
        ClickButton(question, s.answerYes ? IDYES : IDNO);
        WaitUntil([&] { return !IsWindow(question); }, 5000);
    }

    // Wine-only set-up: a drive letter for a folder of this prefix, made the way Wine's own
    // configuration tool makes one (its mount manager links the letter to the folder's Unix
    // path). DefineDosDeviceW is no help here: Wine's file system never consults its links.
    // "X:" or empty.
    static std::wstring MapDrive(const std::wstring& folder)
    {
        using UnixName = char*(CDECL*)(const wchar_t*);
        const auto unixName = reinterpret_cast<UnixName>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        char* path = unixName ? unixName(folder.c_str()) : nullptr;
        if (!path)
            return std::wstring();
        const std::string unixPath = path;
        HeapFree(GetProcessHeap(), 0, path);
        for (wchar_t letter = L'P'; letter <= L'Y'; ++letter) {
            const std::wstring name = std::wstring(1, letter) + L":";
            if (GetDriveTypeW((name + L"\\").c_str()) == DRIVE_NO_ROOT_DIR && SetWineDrive(letter, unixPath))
                return name;
        }
        return std::wstring();
    }

    // Links the letter to the Unix path, or removes the letter when the path is empty.
    static bool SetWineDrive(wchar_t letter, const std::string& unixPath)
    {
        struct UnixDrive {
            ULONG size, type, fsType;
            DWORD serial;
            ULONGLONG unixDevice;
            WCHAR letter;
            USHORT mountPoint, device, label;  // offsets of narrow strings after the header
        };
        const DWORD defineUnixDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
        std::vector<char> request(sizeof(UnixDrive) + unixPath.size() + 1);
        UnixDrive header = {};
        header.size = static_cast<ULONG>(unixPath.empty() ? sizeof header : request.size());
        header.type = unixPath.empty() ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
        header.letter = static_cast<WCHAR>(towlower(letter));
        header.mountPoint = unixPath.empty() ? 0 : static_cast<USHORT>(sizeof header);
        std::memcpy(request.data(), &header, sizeof header);
        std::memcpy(request.data() + sizeof header, unixPath.c_str(), unixPath.size() + 1);
        const HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (manager == INVALID_HANDLE_VALUE)
            return false;
        DWORD returned = 0;
        const BOOL done = DeviceIoControl(manager, defineUnixDrive, request.data(), header.size, nullptr, 0,
                                          &returned, nullptr);
        CloseHandle(manager);
        return done != FALSE;
    }

    void Drive(const Scenario& s, const PROCESS_INFORMATION& process, Outcome& out)
    {
        const HWND dialog = WaitForDialog(L"Setup", 30000, process.dwProcessId, CodeEdit);
        if (!dialog) {
            ADD_FAILURE() << "no product-code dialog";
            TerminateProcess(process.hProcess, 999);
            WaitForSingleObject(process.hProcess, 5000);
            return;
        }
        if (s.closeDialog) {
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            TypeChars(GetDlgItem(dialog, CodeEdit), WideUtf8(s.code));
            ClickButton(dialog, IDOK);
        }
        const ULONGLONG deadline = GetTickCount64() + 120000;
        while (WaitForSingleObject(process.hProcess, 30) == WAIT_TIMEOUT) {
            if (GetTickCount64() > deadline) {
                ADD_FAILURE() << "the program did not end";
                TerminateProcess(process.hProcess, 999);
                WaitForSingleObject(process.hProcess, 5000);
                return;
            }
            const HWND progress = FindDialog(L"Setup", process.dwProcessId, StatusLabel);
            if (progress)
                out.progressSeen = true;
            if (progress && !out.cancelClicked && CancelMomentHasCome(s, progress, Log())) {
                out.cancelClicked = true;
                ClickCancel(s, progress);
                AnswerQuestion(s, process.dwProcessId, progress, out);
            }
            const HWND box = FindDialog(L"Lỗi", process.dwProcessId);
            if (!box)
                continue;
            if (progress && s.cancelAt == Scenario::CancelAt::ErrorBox && !out.cancelClicked) {
                // The road is ending: the click must neither ask nor hide the window.
                out.cancelClicked = true;
                ClickCancel(s, progress);
                Sleep(1000);
                if (FindDialog(L"Setup", process.dwProcessId, IDYES))
                    out.questions.push_back(L"(a question came up)");
                out.windowVisibleAfterClick = IsWindowVisible(progress) != FALSE;
            }
            out.messages.push_back(MessageBoxText(box));
            ClickButton(box, IDOK);
            WaitUntil([&] { return !IsWindow(box); }, 5000);
        }
    }

    static std::string ServerHost()
    {
        std::string base = TEST_SERVER_BASE;
        return base.substr(base.find("//") + 2);
    }

    std::wstring Package() const { return dir->Path() + L"\\brellocantix_hwn.zip"; }
    std::wstring InstallFolder() const { return dir->Path() + L"\\Setup BRELLOCANTIX"; }
    std::wstring Installer() const { return InstallFolder() + L"\\Setup.exe"; }
    std::wstring Tool() const { return dir->Path() + L"\\unzip.exe"; }
    std::wstring Log() const { return logs->Path() + L"\\log.txt"; }
    std::wstring Trace() const { return dir->Path() + L"\\trace.txt"; }

    static std::vector<const LogLine*> Started(const Outcome& out, const wchar_t* who)
    {
        std::vector<const LogLine*> found;
        for (const LogLine& line : out.log)
            if (line.who == who)
                found.push_back(&line);
        return found;
    }

    static std::string Query(const std::string& check, const std::string& code = "AB12C")
    {
        return "/vazid.php?proid=" + code + "&check=" + check;
    }

    static void ExpectQueries(const Outcome& out, size_t count, const std::string& check,
                              bool thenTool = false)
    {
        ASSERT_EQ(out.requests.size(), count + (thenTool ? 1 : 0));
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(out.requests[i].method, "GET");
            EXPECT_EQ(out.requests[i].target, Query(check));
            EXPECT_EQ(out.requests[i].userAgent, "SetupApp");
        }
        if (thenTool) {
            EXPECT_EQ(out.requests.back().target, "/vazid/unzip.exe");
        }
    }

    std::unique_ptr<ScratchDir> dir, elsewhere, logs;
    std::wstring drive;  // mapped for this test, removed at its end
};


using Messages = std::vector<std::wstring>;
