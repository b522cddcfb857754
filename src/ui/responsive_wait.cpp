// Message-dispatching waits for the one thread that owns the windows.
#include "ui/responsive_wait.h"

#include "ui/progress_window.h"

namespace {

void DispatchWaiting()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (ProgressWnd && IsDialogMessageW(ProgressWnd, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

WaitEnd WaitDispatching(HANDLE object, DWORD timeoutMs, bool cancellable)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DispatchWaiting();
        if (cancellable && CancelConfirmed())
            return WaitEnd::Cancelled;
        if (object && WaitForSingleObject(object, 0) == WAIT_OBJECT_0) {
            DispatchWaiting();  // progress posted just before the end is shown before what follows
            return (cancellable && CancelConfirmed()) ? WaitEnd::Cancelled : WaitEnd::Signalled;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return WaitEnd::TimedOut;
        const DWORD left = static_cast<DWORD>(deadline - now);
        MsgWaitForMultipleObjectsEx(object ? 1 : 0, object ? &object : nullptr, left, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

bool PauseDispatching(DWORD ms)
{
    return WaitDispatching(nullptr, ms) != WaitEnd::Cancelled;
}

bool DispatchPending()
{
    if (AskDeferredCancel())
        return false;
    return WaitDispatching(nullptr, 0) != WaitEnd::Cancelled;
}
