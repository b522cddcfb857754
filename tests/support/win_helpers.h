// Helpers the tests share: scratch folders, files, and driving real windows from another
// thread or process the way a person would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
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
