// Test fixture: a person watching this process's screen while the test thread works, who
// reads and dismisses every error box and notes what else was true while it was open. Any
// other window that opens and stays is closed after a while and fails the test, so that a
// box the test did not expect cannot hold the test thread forever.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/win_helpers.h"
#include "ui/texts.h"

class BoxWatcher {
public:
    explicit BoxWatcher(std::function<long()> noteWhileOpen = nullptr)
        : note_(std::move(noteWhileOpen)), thread_([this] { Watch(); }) {}
    ~BoxWatcher() { Stop(); }

    void Stop()
    {
        stop_ = true;
        if (!thread_.joinable())
            return;
        thread_.join();
        if (!strays_.empty())
            ADD_FAILURE() << "a window other than an error box stayed open, and was closed: " << strays_;
    }

    std::vector<std::wstring> texts;
    std::vector<long> notes;

private:
    void Watch()
    {
        const std::vector<HWND> before = OwnDialogs();
        std::vector<Stray> seen;
        while (!stop_) {
            const HWND box = FindDialog(text::ErrorCaption, GetCurrentProcessId());
            if (!box) {
                CloseStrays(before, seen);
                Sleep(20);
                continue;
            }
            texts.push_back(MessageBoxText(box));
            notes.push_back(note_ ? note_() : 0);
            ClickButton(box, IDOK);
            WaitUntil([&] { return !IsWindow(box); }, 5000);
        }
    }

    struct Stray {
        HWND window;
        ULONGLONG firstSeen;
        bool reported;
    };

    void CloseStrays(const std::vector<HWND>& before, std::vector<Stray>& seen)
    {
        const ULONGLONG now = GetTickCount64();
        for (const HWND window : OwnDialogs()) {
            if (!IsWindowVisible(window) || std::find(before.begin(), before.end(), window) != before.end() ||
                WindowText(window) == text::ErrorCaption)
                continue;
            auto stray = std::find_if(seen.begin(), seen.end(), [&](const Stray& s) { return s.window == window; });
            if (stray == seen.end()) {
                seen.push_back({window, now, false});
                continue;
            }
            if (now - stray->firstSeen < StrayGraceMs)
                continue;
            if (!stray->reported) {
                strays_ += (strays_.empty() ? "\"" : "; \"") + Narrow(WindowText(window)) + "\"";
                stray->reported = true;
            }
            CloseAsPersonWould(window);
        }
    }

    static constexpr ULONGLONG StrayGraceMs = 5000;
    std::string strays_;
    std::function<long()> note_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
