// Error message boxes.
#include "ui/error_box.h"

#include <objbase.h>

#include "base/run_log.h"
#include "ui/progress_window.h"
#include "ui/texts.h"

void ShowError(HWND owner, const wchar_t* text)
{
    // Logged before it shows: a run killed while the box is open still has it.
    LogEvent(std::wstring(L"message \"") + text + L"\"");
    // While a box is up, Cancel on the progress window does nothing (not even later).
    const CancelMode mode = CurrentCancelMode();
    SetCancelMode(CancelMode::Ignored);
    MessageBoxW(owner, text, text::ErrorCaption, MB_ICONERROR);
    SetCancelMode(mode);
}

void ReportError(const wchar_t* text)
{
    ShowError(nullptr, text);
    CoUninitialize();
}
