// Demo driver: starts Download.exe, takes a screenshot of each window it meets and tells what
// happened. With --auto it also plays the person: types the code, presses OK on every box. With
// --cancel the person presses Cancel during the download and answers the question with Yes.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "support/win_helpers.h"

namespace {

// Saves an area of the screen as a 24-bit BMP.
void Screenshot(const RECT& r, const std::wstring& path)
{
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return;
    }
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * height;
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        fwrite(bits, 1, stride * height, out);
        fclose(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("  [screenshot %s]\n", Narrow(path.substr(path.find_last_of(L'\\') + 1)).c_str());
}

// Saves the screen area of a window, and of a second one behind it when given (a box over its
// owner), as a 24-bit BMP.
void Screenshot(HWND window, const std::wstring& path, HWND behind = nullptr)
{
    RECT r, under;
    if (!IsWindow(window) || !GetWindowRect(window, &r))
        return;  // gone already
    if (behind && GetWindowRect(behind, &under))
        UnionRect(&r, &r, &under);
    Screenshot(r, path);
}

// The percentage the progress window shows while a download runs, or -1 when it shows none.
int DownloadPercent(HWND progress)
{
    const std::wstring label = WindowText(GetDlgItem(progress, 1001));
    if (label.find(L"% tải về") == std::wstring::npos || label.find(L"Vui lòng") != std::wstring::npos)
        return -1;
    return static_cast<int>(std::wcstol(label.c_str(), nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::printf("usage: driver PROGRAM_EXE CODE SHOTS_DIR PREFIX [--auto] [--cancel]\n");
        return 2;
    }
    const std::wstring exe = argv[1], code = argv[2], shots = argv[3], prefix = argv[4];
    bool automatic = false, cancel = false;
    for (int i = 5; i < argc; ++i) {
        automatic = automatic || std::wstring(argv[i]) == L"--auto";
        cancel = cancel || std::wstring(argv[i]) == L"--cancel";
    }
    const std::wstring dir = exe.substr(0, exe.find_last_of(L'\\'));
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                        &startup, &process)) {
        std::printf("cannot start %s\n", Narrow(exe).c_str());
        return 1;
    }
    const DWORD pid = process.dwProcessId;
    const HWND dialog = WaitForDialog(L"Setup", 30000, pid, 1002);
    if (dialog) {
        Sleep(500);
        std::printf("The product-code dialog is open.\n");
        Screenshot(dialog, shots + L"\\" + prefix + L"-1-code-dialog.bmp");
        if (automatic) {
            TypeChars(GetDlgItem(dialog, 1002), code);
            Sleep(300);
            Screenshot(dialog, shots + L"\\" + prefix + L"-2-code-typed.bmp");
            std::printf("Typed %s and pressed OK.\n", Narrow(code).c_str());
            ClickButton(dialog, IDOK);
        } else {
            std::printf("Type the code %s and press OK.\n", Narrow(code).c_str());
        }
    }
    bool progressShot = false;
    int boxes = 0, questions = 0;
    const ULONGLONG watchStart = GetTickCount64();
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        const HWND progress = FindDialog(L"Setup", pid, 1001);
        if (progress && !progressShot && IsWindowVisible(progress)) {
            if (!cancel) {
                Sleep(700);
                Screenshot(progress, shots + L"\\" + prefix + L"-3-progress.bmp");
                progressShot = true;
            } else if (DownloadPercent(progress) >= 15 || GetTickCount64() - watchStart > 20000) {
                // Far enough into the download that the window shows it, yet well before its end.
                Screenshot(progress, shots + L"\\" + prefix + L"-3-progress.bmp");
                progressShot = true;
                std::printf("The download is running (%d%%).\n", DownloadPercent(progress));
                if (automatic) {
                    std::printf("Pressed Cancel on the progress window.\n");
                    ClickButton(progress, IDCANCEL);
                } else {
                    std::printf("Press Cancel on the progress window and answer Yes.\n");
                }
            }
        }
        const HWND question = FindDialog(L"Setup", pid, IDYES);
        if (question) {
            Sleep(300);
            std::printf("Question: %s\n", Narrow(MessageBoxText(question)).c_str());
            Screenshot(question, shots + L"\\" + prefix + L"-5-question-" + std::to_wstring(++questions) + L".bmp",
                       GetWindow(question, GW_OWNER));
            if (automatic) {
                std::printf(cancel ? "Answered Yes.\n" : "Answered No.\n");
                ClickButton(question, cancel ? IDYES : IDNO);
            }
            WaitUntil([&] { return !IsWindow(question); }, automatic ? 5000 : INFINITE);
            continue;
        }
        const HWND box = FindDialog(L"Lỗi", pid);
        if (!box)
            continue;
        Sleep(300);
        std::printf("Error box: %s\n", Narrow(MessageBoxText(box)).c_str());
        Screenshot(box, shots + L"\\" + prefix + L"-4-error-" + std::to_wstring(++boxes) + L".bmp");
        if (automatic)
            ClickButton(box, IDOK);
        WaitUntil([&] { return !IsWindow(box); }, automatic ? 5000 : INFINITE);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    std::printf("Download.exe ended with exit code %lu%s.\n", exitCode,
                exitCode == ERROR_INSTALL_USEREXIT ? " (the user cancelled the setup)" : "");
    Sleep(1000);
    const std::wstring started = dir + L"\\Setup BRELLOCANTIX\\setup-started.txt";
    std::printf(PathExists(started) ? "Setup.exe from the package was opened.\n"
                                    : "Setup.exe was not opened on this run.\n");
    DeleteFileW(started.c_str());
    return 0;
}
