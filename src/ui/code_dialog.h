// The product-code dialog: asks for the first five characters of the code on the product card.
#pragma once

#include <windows.h>
#include <string>

enum class CodeVerdict { Accepted, WrongLength, BadCharacter };

// The entry test: exactly five UTF-16 units, each an ASCII letter or digit. On Accepted the
// code holds the five ASCII characters; otherwise it is left unchanged.
CodeVerdict CheckProductCode(const std::wstring& typed, std::string& code);

// Runs the modal dialog: 1 accepted (ProductCode set), 2 closed, -1 when it cannot be created.
INT_PTR AskProductCode();

INT_PTR CALLBACK CodeDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
