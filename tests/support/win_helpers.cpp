// Shared helpers for files and for driving windows.
#include "support/win_helpers.h"

#include <algorithm>
#include <cstdio>

ScratchDir::ScratchDir(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    // Wine hands out the same small process ids again once its server restarts (every test
    // runs in a process of its own), so the start time keeps names apart as well.
    static const ULONGLONG started = GetTickCount64();
    path_ = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(started % 100000000) + L"-" + std::to_wstring(++counter);
    RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir()
{
    RemoveTree(path_);
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return false;
    bytes.clear();
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    std::fclose(file);
    return true;
}

std::string ReadFileOrEmpty(const std::wstring& path)
{
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}

std::wstring ExeDir()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L"\\/"));
}

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
}

namespace {

struct DialogSearch {
    const wchar_t* caption;
    DWORD processId;
    int requiredChild;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t className[32];
    GetClassNameW(window, className, 32);
    if (std::wstring(className) != L"#32770")
        return TRUE;
    if (search->processId) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId)
            return TRUE;
    }
    if (WindowText(window) != search->caption)
        return TRUE;
    if (search->requiredChild && !GetDlgItem(window, search->requiredChild))
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND FindDialog(const wchar_t* caption, DWORD processId, int requiredChild)
{
    DialogSearch search{caption, processId, requiredChild, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs, DWORD processId, int requiredChild)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(caption, processId, requiredChild)) != nullptr; }, timeoutMs);
    return found;
}

namespace {

BOOL CALLBACK CollectDialog(HWND window, LPARAM param)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[32];
    GetClassNameW(window, className, 32);
    if (owner == GetCurrentProcessId() && std::wstring(className) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

bool Contains(const std::vector<HWND>& windows, HWND window)
{
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

bool HasVisibleButton(HWND dialog, int id)
{
    const HWND button = GetDlgItem(dialog, id);
    return button && IsWindowVisible(button);
}

}  // namespace

std::vector<HWND> OwnDialogs()
{
    std::vector<HWND> found;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CloseAsPersonWould(HWND dialog)
{
    if (GetDlgItem(dialog, 0xFFFF)) {  // a message box: the answer that leaves it unchanged
        const int answer = HasVisibleButton(dialog, IDCANCEL) ? IDCANCEL
                           : HasVisibleButton(dialog, IDNO)   ? IDNO
                                                              : IDOK;
        ClickButton(dialog, answer);
    } else {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

ModalWatchdog::ModalWatchdog(DWORD deadlineMs)
    : before_(OwnDialogs()), deadline_(armed_ + std::chrono::milliseconds(deadlineMs)),
      thread_([this] { Watch(); })
{
}

ModalWatchdog::~ModalWatchdog()
{
    Disarm();
}

void ModalWatchdog::FireWithin(DWORD ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = std::min(deadline_, Clock::now() + std::chrono::milliseconds(ms));
    wake_.notify_all();
}

std::string ModalWatchdog::Disarm()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        disarmed_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    return report_;
}

void ModalWatchdog::Watch()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!disarmed_) {
        if (Clock::now() < deadline_) {
            wake_.wait_until(lock, deadline_);
            continue;
        }
        // Past the deadline: keep closing until disarmed, since closing one window (an error
        // box over a dialog) can uncover or open another.
        lock.unlock();
        CloseNewDialogs();
        lock.lock();
        wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return disarmed_; });
    }
}

void ModalWatchdog::CloseNewDialogs()
{
    for (const HWND window : OwnDialogs()) {
        if (Contains(before_, window) || !IsWindowVisible(window))
            continue;
        if (!Contains(closed_, window)) {
            closed_.push_back(window);
            const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - armed_);
            if (!report_.empty())
                report_ += "; ";
            report_ += "\"" + Narrow(WindowText(window)) + "\" closed after " +
                       std::to_string(after.count()) + " ms";
        }
        CloseAsPersonWould(window);
    }
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId()) {
        // Asked of the window itself: an edit control keeps its text apart from the caption.
        SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                            2000, nullptr);
    } else {
        // Another process's window: read without sending it anything, so a busy one cannot stall us.
        InternalGetWindowText(window, text, 512);
    }
    return text;
}

std::wstring MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

int CountButtons(HWND dialog)
{
    int count = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32];
        GetClassNameW(child, className, 32);
        if (lstrcmpiW(className, L"Button") == 0 && IsWindowVisible(child))
            ++count;
    }
    return count;
}

bool HasErrorIcon(HWND box)
{
    const HICON error = LoadIconW(nullptr, IDI_ERROR);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        if (reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) == error)
            return true;
    }
    return false;
}

void TypeChars(HWND control, const std::wstring& text)
{
    for (const wchar_t c : text)
        SendMessageW(control, WM_CHAR, c, 0);
}

void ClickButton(HWND dialog, int id)
{
    // Posted: a click that opens a modal box must not block the one who clicks.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKey(HWND control, UINT virtualKey)
{
    PostMessageW(control, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(control, WM_KEYUP, virtualKey, 0xC0000001);
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring WideUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}
