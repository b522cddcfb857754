// Test fixture: a person watching this process's screen while the test thread works, who
// reads and dismisses every error box and notes what else was true while it was open.
#pragma once

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
        if (thread_.joinable())
            thread_.join();
    }

    std::vector<std::wstring> texts;
    std::vector<long> notes;

private:
    void Watch()
    {
        while (!stop_) {
            const HWND box = FindDialog(text::ErrorCaption, GetCurrentProcessId());
            if (!box) {
                Sleep(20);
                continue;
            }
            texts.push_back(MessageBoxText(box));
            notes.push_back(note_ ? note_() : 0);
            ClickButton(box, IDOK);
            WaitUntil([&] { return !IsWindow(box); }, 5000);
        }
    }

    std::function<long()> note_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
