// Helpers the tests share: scratch folders, files, and driving real windows from another
// thread or process the way a person would.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A fresh empty folder under the temp directory, removed with its content when destroyed.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name = L"dl-test");
    ~ScratchDir();
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
std::string ReadFileOrEmpty(const std::wstring& path);
std::wstring ExeDir();
bool PathExists(const std::wstring& path);  // a file or folder  // folder of the running test exe

// Polls until the predicate holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Top-level dialog windows (#32770) with this caption, optionally only of one process.
HWND FindDialog(const wchar_t* caption, DWORD processId = 0, int requiredChild = 0);
HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs, DWORD processId = 0, int requiredChild = 0);

// This process's top-level dialog windows (#32770: dialogs and message boxes), open or hidden.
std::vector<HWND> OwnDialogs();
// Posts what a person would do to leave a window: a box's Cancel, No or OK button, another
// dialog's close button.
void CloseAsPersonWould(HWND dialog);

// Closes the dialogs and message boxes this process opens while it is armed, once its deadline
// passes, so that a modal call whose driver missed its window returns instead of blocking the
// suite. Windows open before it was armed are left alone.
class ModalWatchdog {
public:
    explicit ModalWatchdog(DWORD deadlineMs);
    ~ModalWatchdog();
    ModalWatchdog(const ModalWatchdog&) = delete;
    ModalWatchdog& operator=(const ModalWatchdog&) = delete;

    // Brings the deadline forward to this long from now, e.g. when the driver has done all it will.
    void FireWithin(DWORD ms);
    // Stops watching. Returns what it had to close (UTF-8, one entry per window), empty if nothing.
    std::string Disarm();

private:
    void Watch();
    void CloseNewDialogs();

    using Clock = std::chrono::steady_clock;
    const Clock::time_point armed_ = Clock::now();
    std::vector<HWND> before_;
    std::vector<HWND> closed_;
    std::string report_;
    std::mutex mutex_;
    std::condition_variable wake_;
    Clock::time_point deadline_;
    bool disarmed_ = false;
    std::thread thread_;
};

std::wstring WindowText(HWND window);
std::wstring MessageBoxText(HWND box);
int CountButtons(HWND dialog);
bool HasErrorIcon(HWND box);

// Types characters into a control one WM_CHAR at a time, as the keyboard would.
void TypeChars(HWND control, const std::wstring& text);
void ClickButton(HWND dialog, int id);
void PressKey(HWND control, UINT virtualKey);

std::string Narrow(const std::wstring& text);  // UTF-8
std::wstring WideUtf8(const std::string& text);
