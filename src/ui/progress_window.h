// The progress window: a modeless dialog with a status label, a bar and a Cancel button. Its
// messages are dispatched by the waits in ui/responsive_wait.h while the program works.
#pragma once

#include <windows.h>
#include <string>

extern HWND ProgressWnd;  // null until ShowProgressWindow; never destroyed

// Posted to the progress window (from any thread): wParam is the percentage to show.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_APP + 1;

void ShowProgressWindow();
INT_PTR CALLBACK ProgressDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void SetProgress(int percent);
void SetStatusSearching();
void SetStatusDownloaded();

// "42% tải về" for 42.
std::wstring ProgressLabel(int percent);

// What Cancel (the button, Esc, the caption's close button) does at this moment.
enum class CancelMode {
    Ignored,   // nothing left to cancel, or an error box is up: the click does nothing
    Ask,       // ask at once; Yes cancels
    Deferred,  // a single long call is running: ask when it returns (AskDeferredCancel)
};
void SetCancelMode(CancelMode mode);
CancelMode CurrentCancelMode();

// True once the user has answered Yes to the cancel question.
bool CancelConfirmed();

// Asks the question for a click that arrived while the mode was Deferred; true when confirmed.
bool AskDeferredCancel();

// Top-left corner that centres a window of the given size on a screen of the given size.
POINT CentredOrigin(int screenWidth, int screenHeight, int width, int height);

// Centres a top-level window on the primary screen (the whole screen, taskbar included).
void CentreOnScreen(HWND window);
