// Error message boxes.
#include "ui/error_box.h"

#include <objbase.h>

#include "ui/texts.h"

void ShowError(HWND owner, const wchar_t* text)
{
    MessageBoxW(owner, text, text::ErrorCaption, MB_ICONERROR);
}

void ReportError(const wchar_t* text)
{
    ShowError(nullptr, text);
    CoUninitialize();
}
