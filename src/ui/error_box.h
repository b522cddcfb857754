// The one form of every error message box, and the install roads' final error report.
#pragma once

#include <windows.h>

// Caption "Lỗi", error icon, OK only; returns when the user has dismissed it.
void ShowError(HWND owner, const wchar_t* text);

// ShowError without owner, then CoUninitialize for the entry thread; the caller ends with 1.
void ReportError(const wchar_t* text);
