// Product-code dialog procedure and its entry test.
#include "ui/code_dialog.h"

#include "base/program.h"
#include "res/resource_ids.h"
#include "ui/error_box.h"
#include "ui/progress_window.h"
#include "ui/texts.h"

namespace {

bool IsAsciiLetterOrDigit(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9');
}

void TestEntry(HWND dialog)
{
    wchar_t typed[128] = {};
    GetDlgItemTextW(dialog, IDC_CODE_EDIT, typed, 128);
    std::string code;
    switch (CheckProductCode(typed, code)) {
    case CodeVerdict::WrongLength:
        ShowError(dialog, text::CodeWrongLength);
        return;
    case CodeVerdict::BadCharacter:
        ShowError(dialog, text::CodeBadCharacter);
        return;
    case CodeVerdict::Accepted:
        ProductCode = code;
        EndDialog(dialog, 1);
        return;
    }
}

}  // namespace

CodeVerdict CheckProductCode(const std::wstring& typed, std::string& code)
{
    if (typed.size() != 5)
        return CodeVerdict::WrongLength;
    // Whole UTF-16 units are tested, so no character outside ASCII can pass as a letter.
    for (const wchar_t c : typed) {
        if (!IsAsciiLetterOrDigit(c))
            return CodeVerdict::BadCharacter;
    }
    code.assign(typed.begin(), typed.end());
    return CodeVerdict::Accepted;
}

INT_PTR AskProductCode()
{
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CODE), nullptr,
                           CodeDlgProc, 0);
}

INT_PTR CALLBACK CodeDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CentreOnScreen(window);
        SendDlgItemMessageW(window, IDC_CODE_EDIT, EM_LIMITTEXT, 5, 0);
        SetFocus(GetDlgItem(window, IDC_CODE_EDIT));
        return FALSE;  // keep the focus just set
    case WM_CLOSE:
        EndDialog(window, 2);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDOK)
            return FALSE;  // Esc (IDCANCEL) leaves the dialog open
        TestEntry(window);
        return TRUE;
    default:
        return FALSE;
    }
}
