// Demo driver: starts Download.exe, takes a screenshot of each window it meets and tells what
// happened. With --auto it also plays the person: types the code, presses OK on every box.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/win_helpers.h"

namespace {

// Saves the screen area of a window as a 24-bit BMP.
void Screenshot(HWND window, const std::wstring& path)
{
    RECT r;
    if (!IsWindow(window) || !GetWindowRect(window, &r))
        return;  // gone already
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

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::printf("usage: driver PROGRAM_EXE CODE SHOTS_DIR PREFIX [--auto]\n");
        return 2;
    }
    const std::wstring exe = argv[1], code = argv[2], shots = argv[3], prefix = argv[4];
    const bool automatic = argc > 5 && std::wstring(argv[5]) == L"--auto";
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
    int boxes = 0;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        const HWND progress = FindDialog(L"Setup", pid, 1001);
        if (progress && !progressShot && IsWindowVisible(progress)) {
            Sleep(700);
            Screenshot(progress, shots + L"\\" + prefix + L"-3-progress.bmp");
            progressShot = true;
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
    std::printf("Download.exe ended with exit code %lu.\n", exitCode);
    Sleep(1000);
    const std::wstring started = dir + L"\\Setup BRELLOCANTIX\\setup-started.txt";
    std::printf(PathExists(started) ? "Setup.exe from the package was opened.\n"
                                    : "Setup.exe was not opened on this run.\n");
    DeleteFileW(started.c_str());
    return 0;
}
