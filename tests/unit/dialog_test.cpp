// The product-code dialog, the progress window and the error boxes, driven as a person would:
// the dialog runs on the test's thread, a second thread types, clicks and reads.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>

#include "app/names.h"
#include "res/resource_ids.h"
#include "support/com_depth.h"
#include "support/win_helpers.h"
#include "ui/code_dialog.h"
#include "ui/error_box.h"
#include "ui/progress_window.h"
#include "ui/texts.h"
#include "unit/progress_recorder.h"

namespace {

const DWORD Self = GetCurrentProcessId();

// A person's hands on a thread of their own while the test's thread runs a modal window. Should
// they miss a window, a watchdog closes it soon after they are done (or at the latest after
// the deadline), and the test fails instead of blocking until CTest's timeout.
class Person {
public:
    explicit Person(std::function<void()> act)
        : hands_([this, act = std::move(act)] {
              act();
              watchdog_.FireWithin(GraceMs);
          })
    {
    }
    ~Person() { Join(); }

    void Join()
    {
        if (!hands_.joinable())
            return;
        hands_.join();
        const std::string closed = watchdog_.Disarm();
        if (!closed.empty())
            ADD_FAILURE() << "the person missed a window, which the watchdog closed: " << closed;
    }

private:
    static constexpr DWORD GraceMs = 2000;      // for the last press to close the window
    static constexpr DWORD DeadlineMs = 30000;  // should the hands themselves never finish
    ModalWatchdog watchdog_{DeadlineMs};
    std::thread hands_;
};

struct BoxSeen {
    std::wstring text;
    HWND owner = nullptr;
    int buttons = 0;
    bool errorIcon = false;
    bool ownerDisabled = false;
};

// Waits for an error box, notes what a person would see, and presses its OK button.
bool DismissErrorBox(BoxSeen& seen, DWORD timeoutMs = 5000)
{
    const HWND box = WaitForDialog(text::ErrorCaption, timeoutMs, Self);
    if (!box)
        return false;
    seen.text = MessageBoxText(box);
    seen.owner = GetWindow(box, GW_OWNER);
    seen.buttons = CountButtons(box);
    seen.errorIcon = HasErrorIcon(box);
    seen.ownerDisabled = seen.owner && !IsWindowEnabled(seen.owner);
    ClickButton(box, IDOK);
    return WaitUntil([&] { return !IsWindow(box); }, 5000);
}

enum class Press { Ok, Enter };

struct EntryCase {
    const wchar_t* typed;
    const wchar_t* message;  // null: accepted
    const char* stored;
    Press press;
    const wchar_t* shown;    // what the edit box holds after typing
};

}  // namespace

TEST(CodeDialog, EntryTestAnswersEachPressWithAtMostOneMessage)
{
    const EntryCase cases[] = {
        {L"", text::CodeWrongLength, "", Press::Ok, L""},
        {L"AB1,", text::CodeWrongLength, "", Press::Ok, L"AB1,"},
        {L"AB12", text::CodeWrongLength, "", Press::Enter, L"AB12"},
        {L"AB 12", text::CodeBadCharacter, "", Press::Ok, L"AB 12"},
        {L"AB-12", text::CodeBadCharacter, "", Press::Ok, L"AB-12"},
        {L"\u0110AB12", text::CodeBadCharacter, "", Press::Ok, L"\u0110AB12"},
        // U+0141 has 0x41 ('A') as its low byte: it must not pass as an A.
        {L"\u0141BC12", text::CodeBadCharacter, "", Press::Ok, L"\u0141BC12"},
        {L"ab12c", nullptr, "AB12C", Press::Ok, L"AB12C"},
        {L"Zq9x0", nullptr, "ZQ9X0", Press::Enter, L"ZQ9X0"},
        {L"ABCDEFG", nullptr, "ABCDE", Press::Ok, L"ABCDE"},  // a sixth character cannot be typed
    };
    for (const EntryCase& c : cases) {
        ProductCode.clear();
        std::wstring shown;
        BoxSeen box;
        bool boxShown = false, secondBox = false, stillOpen = false;
        HWND dialog = nullptr;
        POINT centred = {}, actual = {};
        Person person([&] {
            dialog = WaitForDialog(L"Setup", 5000, Self, IDC_CODE_EDIT);
            if (!dialog)
                return;
            RECT rect;
            GetWindowRect(dialog, &rect);
            actual = {rect.left, rect.top};
            centred = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                    rect.right - rect.left, rect.bottom - rect.top);
            const HWND edit = GetDlgItem(dialog, IDC_CODE_EDIT);
            TypeChars(edit, c.typed);
            shown = WindowText(edit);
            if (c.press == Press::Ok)
                ClickButton(dialog, IDOK);
            else
                PressKey(edit, VK_RETURN);
            if (c.message) {
                boxShown = DismissErrorBox(box);
                secondBox = WaitForDialog(text::ErrorCaption, 400, Self) != nullptr;
                stillOpen = IsWindow(dialog) && WindowText(edit) == shown;
                PostMessageW(dialog, WM_CLOSE, 0, 0);
            }
        });
        const INT_PTR result = AskProductCode();
        person.Join();
        const std::string label = Narrow(c.typed);
        ASSERT_TRUE(dialog) << label;
        EXPECT_EQ(actual.x, centred.x) << label;
        EXPECT_EQ(actual.y, centred.y) << label;
        EXPECT_EQ(shown, c.shown) << label;
        if (c.message) {
            EXPECT_TRUE(boxShown) << label;
            EXPECT_EQ(box.text, c.message) << label;
            EXPECT_EQ(box.owner, dialog) << label;
            EXPECT_TRUE(box.ownerDisabled) << label;
            EXPECT_FALSE(secondBox) << label;
            EXPECT_TRUE(stillOpen) << label;
            EXPECT_EQ(result, 2) << label << ": closed after the rejection";
            EXPECT_EQ(ProductCode, "") << label;
        } else {
            EXPECT_EQ(result, 1) << label;
            EXPECT_EQ(ProductCode, c.stored) << label;
        }
    }
    ProductCode.clear();
}

TEST(CodeDialog, EscLeavesItOpenAndTheCloseButtonReturnsTwo)
{
    ProductCode.clear();
    bool openAfterEsc = false, boxAfterEsc = true;
    Person person([&] {
        const HWND dialog = WaitForDialog(L"Setup", 5000, Self, IDC_CODE_EDIT);
        if (!dialog)
            return;
        const HWND edit = GetDlgItem(dialog, IDC_CODE_EDIT);
        TypeChars(edit, L"AB12C");
        PressKey(edit, VK_ESCAPE);
        Sleep(300);
        openAfterEsc = IsWindow(dialog) && IsWindowVisible(dialog);
        boxAfterEsc = FindDialog(text::ErrorCaption, Self) != nullptr;
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the caption's close button
    });
    const INT_PTR result = AskProductCode();
    person.Join();
    EXPECT_TRUE(openAfterEsc);
    EXPECT_FALSE(boxAfterEsc);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(ProductCode, "");
}

TEST(Centring, TruncatesTowardZero)
{
    const struct { int screen, window, origin; } cases[] = {
        {1024, 977, 23},    // 47 narrower: 47 / 2
        {1024, 1059, -17},  // 35 wider: -35 / 2 toward zero, not -18
        {1024, 1024, 0},
        {1024, 1025, 0},
        {800, 1, 399},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CentredOrigin(c.screen, 600, c.window, 10).x, c.origin) << c.window;
        EXPECT_EQ(CentredOrigin(600, c.screen, 10, c.window).y, c.origin) << c.window;
    }
}

TEST(ProgressWindow, OpensCentredWithZeroPercent)
{
    ProgressRecorder progress;
    ASSERT_TRUE(progress.window);
    EXPECT_TRUE(IsWindowVisible(progress.window));
    EXPECT_EQ(WindowText(progress.window), L"Setup");
    EXPECT_EQ(progress.Label(), L"0%");
    RECT rect;
    GetWindowRect(progress.window, &rect);
    const POINT centred = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                        rect.right - rect.left, rect.bottom - rect.top);
    EXPECT_EQ(rect.left, centred.x);
    EXPECT_EQ(rect.top, centred.y);
}

TEST(ProgressWindow, StatusOperationsSetLabelAndBar)
{
    ProgressRecorder progress;
    const std::wstring suffix = text::StatusPercentSuffix;
    const struct { int percent; std::wstring label; int bar; } cases[] = {
        {0, L"0" + suffix, 0}, {42, L"42" + suffix, 42}, {100, L"100" + suffix, 100},
        {150, L"150" + suffix, 100},  // the bar holds its position within 0 to 100
    };
    for (const auto& c : cases) {
        SetProgress(c.percent);
        EXPECT_EQ(progress.Label(), c.label);
        EXPECT_EQ(progress.BarPosition(), c.bar) << c.percent;
    }
    EXPECT_EQ(progress.Label(), L"150% tải về");

    SetProgress(37);
    SetStatusSearching();
    EXPECT_EQ(progress.Label(), text::StatusSearching);
    EXPECT_EQ(progress.BarPosition(), 37);
    SetStatusDownloaded();
    EXPECT_EQ(progress.Label(), text::StatusDownloaded);
    EXPECT_EQ(progress.BarPosition(), 37);
}

TEST(ProgressWindow, StatusOperationsSkipWhatIsMissing)
{
    ProgressWnd = nullptr;
    SetProgress(50);  // no window yet: nothing happens, nothing fails
    SetStatusSearching();
    SetStatusDownloaded();

    ProgressRecorder progress;
    DestroyWindow(GetDlgItem(progress.window, IDC_STATUS_TEXT));
    SetProgress(64);
    EXPECT_EQ(progress.BarPosition(), 64);
    SetStatusDownloaded();

    ProgressRecorder second;
    DestroyWindow(GetDlgItem(second.window, IDC_PROGRESS_BAR));
    SetProgress(12);
    EXPECT_EQ(second.Label(), L"12% tải về");
}

TEST(ProgressWindow, CancelDoesNothingWhileAnErrorBoxIsOpen)
{
    ProgressRecorder progress;
    SetCancelMode(CancelMode::Ask);  // a box that comes in the middle of the work (the Shell's)
    BoxSeen box;
    bool asked = false, hidden = false;
    Person person([&] {
        const HWND open = WaitForDialog(text::ErrorCaption, 5000, Self);
        ClickButton(progress.window, IDCANCEL);
        PostMessageW(progress.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        asked = WaitForDialog(text::WindowCaption, 1500, Self, IDYES) != nullptr;
        hidden = !IsWindowVisible(progress.window);
        if (open)
            DismissErrorBox(box);
    });
    ShowError(nullptr, text::UpdateCheckFailed);
    person.Join();
    EXPECT_FALSE(asked);
    EXPECT_FALSE(hidden);
    EXPECT_FALSE(CancelConfirmed());
    EXPECT_FALSE(AskDeferredCancel()) << "nothing was kept for later either";
    EXPECT_TRUE(CurrentCancelMode() == CancelMode::Ask) << "the mode is back once the box is gone";
    SetCancelMode(CancelMode::Ignored);
    EXPECT_EQ(box.text, text::UpdateCheckFailed);
}

// Only No is answered here: a Yes would stay with this process (the end-to-end tests answer Yes).
TEST(ProgressWindow, CancelAsksAtOnceOrWhenALongCallReturnsAndNoChangesNothing)
{
    ProgressRecorder progress;
    for (const CancelMode mode : {CancelMode::Ask, CancelMode::Deferred}) {
        SetCancelMode(mode);
        std::wstring question;
        bool ownedByWindow = false, askedDuringTheCall = false;
        Person person([&] {
            ClickButton(progress.window, IDCANCEL);
            HWND box = WaitForDialog(text::WindowCaption, 1500, Self, IDYES);
            askedDuringTheCall = box != nullptr;
            if (!box) {
                // Deferred: the long call has "returned"; the road asks now.
                PostThreadMessageW(GetWindowThreadProcessId(progress.window, nullptr), WM_APP + 77, 0, 0);
                box = WaitForDialog(text::WindowCaption, 5000, Self, IDYES);
            }
            if (!box)
                return;
            question = MessageBoxText(box);
            ownedByWindow = GetWindow(box, GW_OWNER) == progress.window && GetDlgItem(box, IDNO);
            ClickButton(box, IDNO);
        });
        // The window's thread: dispatch for a while, as the program's waits do.
        const ULONGLONG end = GetTickCount64() + 8000;
        bool deferredAsked = false;
        MSG message;
        while (GetTickCount64() < end && (question.empty() || !deferredAsked)) {
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_APP + 77) {
                    deferredAsked = true;
                    EXPECT_FALSE(AskDeferredCancel());
                    continue;
                }
                if (!IsDialogMessageW(progress.window, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            if (mode == CancelMode::Ask)
                deferredAsked = true;
            Sleep(10);
        }
        person.Join();
        EXPECT_EQ(question, text::CancelQuestion) << static_cast<int>(mode);
        EXPECT_TRUE(ownedByWindow) << static_cast<int>(mode);
        EXPECT_EQ(askedDuringTheCall, mode == CancelMode::Ask) << static_cast<int>(mode);
        EXPECT_FALSE(CancelConfirmed()) << static_cast<int>(mode);
        EXPECT_TRUE(IsWindowVisible(progress.window));
    }
    SetCancelMode(CancelMode::Ignored);
}

TEST(ErrorBox, HasOneFormWithOrWithoutOwner)
{
    const HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                       100, 100, nullptr, nullptr, nullptr, nullptr);
    for (const HWND expectedOwner : {owner, HWND(nullptr)}) {
        BoxSeen box;
        Person person([&] { DismissErrorBox(box); });
        ShowError(expectedOwner, text::PackageNotSaved);
        person.Join();
        EXPECT_EQ(box.text, text::PackageNotSaved);
        EXPECT_EQ(box.owner, expectedOwner);
        EXPECT_EQ(box.buttons, 1);
        EXPECT_TRUE(box.errorIcon);
    }
    DestroyWindow(owner);
}

TEST(ErrorBox, ReportErrorUninitialisesComOnce)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const int before = ComDepth();
    BoxSeen box;
    Person person([&] { DismissErrorBox(box); });
    ReportError(text::ToolNotSaved);
    person.Join();
    EXPECT_EQ(box.text, text::ToolNotSaved);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(ComDepth(), before - 1);
    CoUninitialize();
}
