// Waits that keep the progress window alive: while the program waits for a worker, a process or
// a fixed time, its thread retrieves and dispatches every message (the progress window's through
// IsDialogMessageW), so the window repaints, answers Windows at once and Cancel can be clicked.
#pragma once

#include <windows.h>

enum class WaitEnd { Signalled, TimedOut, Cancelled };

// Waits until the object is signalled (null: never), the time is up, or (when cancellable) the
// user confirms Cancel. A message that arrives does not shorten the wait; an open cancel
// question holds it until it is answered. Messages posted before the object was signalled are
// dispatched before Signalled is returned.
WaitEnd WaitDispatching(HANDLE object, DWORD timeoutMs, bool cancellable = true);

// A fixed pause that dispatches messages; false when the user cancelled during it.
bool PauseDispatching(DWORD ms);

// Dispatches what is waiting (and a Cancel click held during a long call); false when the user
// has cancelled.
bool DispatchPending();
