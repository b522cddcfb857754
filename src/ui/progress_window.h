// The progress window: a modeless dialog with a status label, a bar and a Cancel button that
// only informs. The program has no message loop; the status calls talk to the controls directly.
#pragma once

#include <windows.h>
#include <string>

extern HWND ProgressWnd;  // null until ShowProgressWindow; never destroyed

void ShowProgressWindow();
INT_PTR CALLBACK ProgressDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void SetProgress(int percent);
void SetStatusSearching();
void SetStatusDownloaded();

// "42% tải về" for 42.
std::wstring ProgressLabel(int percent);

// Top-left corner that centres a window of the given size on a screen of the given size.
POINT CentredOrigin(int screenWidth, int screenHeight, int width, int height);

// Centres a top-level window on the primary screen (the whole screen, taskbar included).
void CentreOnScreen(HWND window);
