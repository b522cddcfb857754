// Progress window, its status operations, the cancel question and window centring.
#include "ui/progress_window.h"

#include <commctrl.h>

#include "base/dll_safety.h"
#include "base/run_log.h"
#include "base/program.h"
#include "res/resource_ids.h"
#include "ui/texts.h"

HWND ProgressWnd = nullptr;

namespace {

CancelMode cancelMode = CancelMode::Ignored;
bool cancelConfirmed = false;
bool cancelDeferred = false;   // a click is waiting for the running call to return
bool questionOpen = false;

// The question, owned by the progress window; while it is open the work waits for the answer.
void AskToCancel()
{
    if (questionOpen || cancelConfirmed)
        return;
    questionOpen = true;
    const int answer = MessageBoxW(ProgressWnd, text::CancelQuestion, text::WindowCaption,
                                   MB_YESNO | MB_ICONQUESTION);
    questionOpen = false;
    LogEvent(answer == IDYES ? L"cancel asked: yes" : L"cancel asked: no, the run goes on");
    if (answer == IDYES)
        cancelConfirmed = true;
}

void OnCancel()
{
    switch (cancelMode) {
    case CancelMode::Ignored:
        return;
    case CancelMode::Ask:
        AskToCancel();
        return;
    case CancelMode::Deferred:
        cancelDeferred = true;
        return;
    }
}

// A control of the progress window, or null when the window or the control is missing.
HWND ProgressControl(int id)
{
    const HWND control = GetDlgItem(ProgressWnd, id);
    return (control && IsWindow(control)) ? control : nullptr;
}

void SetStatusText(const wchar_t* textToShow)
{
    if (const HWND label = ProgressControl(IDC_STATUS_TEXT))
        SetWindowTextW(label, textToShow);
}

}  // namespace

void ShowProgressWindow()
{
    // Loading comctl32 registers "msctls_progress32"; it stays loaded for the process.
    LoadSystemLibrary(L"comctl32.dll");
    ProgressWnd = CreateDialogParamW(InstanceHandle, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                     ProgressDlgProc, 0);
    ShowWindow(ProgressWnd, SW_SHOW);
    UpdateWindow(ProgressWnd);
    CentreOnScreen(ProgressWnd);
}

INT_PTR CALLBACK ProgressDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDCANCEL)
            return FALSE;
        OnCancel();  // the button and Esc
        return TRUE;
    case WM_CLOSE:
        OnCancel();  // the caption's close button
        return TRUE;
    case WM_DOWNLOAD_PROGRESS:
        SetProgress(static_cast<int>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

std::wstring ProgressLabel(int percent)
{
    // Written out by hand: std::to_wstring drags the C runtime's whole printf engine into the exe.
    wchar_t digits[12];
    wchar_t* start = digits + 12;
    unsigned magnitude = percent < 0 ? 0u - static_cast<unsigned>(percent) : static_cast<unsigned>(percent);
    do {
        *--start = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::wstring label = percent < 0 ? L"-" : L"";
    label.append(start, digits + 12);
    return label + text::StatusPercentSuffix;
}

void SetProgress(int percent)
{
    if (const HWND bar = ProgressControl(IDC_PROGRESS_BAR))
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    SetStatusText(ProgressLabel(percent).c_str());
}

void SetStatusSearching()
{
    SetStatusText(text::StatusSearching);
}

void SetStatusDownloaded()
{
    SetStatusText(text::StatusDownloaded);
}

void SetCancelMode(CancelMode mode)
{
    cancelMode = mode;
    if (mode == CancelMode::Ignored)
        cancelDeferred = false;
}

CancelMode CurrentCancelMode()
{
    return cancelMode;
}

bool CancelConfirmed()
{
    return cancelConfirmed;
}

bool AskDeferredCancel()
{
    if (cancelDeferred) {
        cancelDeferred = false;
        AskToCancel();
    }
    return cancelConfirmed;
}

POINT CentredOrigin(int screenWidth, int screenHeight, int width, int height)
{
    // C++ division truncates toward zero: a window 35 px too wide lands at -17.
    return POINT{(screenWidth - width) / 2, (screenHeight - height) / 2};
}

void CentreOnScreen(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    const POINT origin = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                       rect.right - rect.left, rect.bottom - rect.top);
    SetWindowPos(window, nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
