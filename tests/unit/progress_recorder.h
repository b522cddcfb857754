// Test fixture: the real progress window, shown in this process, with its label watched so that
// every text set on it is recorded, and its bar swapped for one without the marquee bit
// (Wine honours that bit and would always read position 0; Windows' classic bar ignores it).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "res/resource_ids.h"
#include "ui/progress_window.h"

class ProgressRecorder {
public:
    ProgressRecorder()
    {
        ShowProgressWindow();
        window = ProgressWnd;
        if (!window)
            return;
        const HWND oldBar = GetDlgItem(window, IDC_PROGRESS_BAR);
        RECT box;
        GetWindowRect(oldBar, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        DestroyWindow(oldBar);
        const HWND bar = CreateWindowExW(0, L"msctls_progress32", L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                         box.left, box.top, box.right - box.left, box.bottom - box.top,
                                         window, reinterpret_cast<HMENU>(IDC_PROGRESS_BAR), nullptr, nullptr);
        SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        const HWND label = GetDlgItem(window, IDC_STATUS_TEXT);
        Active() = this;
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Watch)));
    }

    ~ProgressRecorder()
    {
        Active() = nullptr;
        if (window)
            DestroyWindow(window);
        ProgressWnd = nullptr;
    }

    int BarPosition() const
    {
        return static_cast<int>(SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
    }
    std::wstring Label() const
    {
        wchar_t text[128] = {};
        GetDlgItemTextW(window, IDC_STATUS_TEXT, text, 128);
        return text;
    }

    HWND window = nullptr;
    std::vector<std::wstring> texts;  // every text set on the label, in order

private:
    static ProgressRecorder*& Active()
    {
        static ProgressRecorder* active = nullptr;
        return active;
    }
    static LRESULT CALLBACK Watch(HWND label, UINT message, WPARAM wParam, LPARAM lParam)
    {
        ProgressRecorder* self = Active();
        if (self && message == WM_SETTEXT)
            self->texts.push_back(reinterpret_cast<const wchar_t*>(lParam));
        return CallWindowProcW(self ? self->original_ : DefWindowProcW, label, message, wParam, lParam);
    }

    WNDPROC original_ = nullptr;
};
