#pragma once
// The Win32 backend's message loop, shared by the main loop and every modal one, and the wait
// of a probe that goes on serving the system meanwhile (AfxWaitServing).

#include "base/wintypes.h"

// The dialogs whose keyboard (Tab, Enter, Escape, mnemonics) the dialog manager handles.
void Win32RememberDialog(HWND hDialog);
void Win32ForgetDialog(HWND hDialog);

// Waits for one message and dispatches it. False on the quit message, which is posted again
// so that every loop around this one ends too.
bool Win32PumpMessage();

// Hands one message to the dialog manager of its dialog, or to its window.
void Win32Dispatch(MSG& msg);

// While a wait serves the system, a message meant for the program's handlers that still reaches
// a dialog (sent from another thread, or through a control of ours) is held: true when it was,
// and it comes back posted once the wait is over; the same message held again is the same
// request, held once. A close of the main window also ends the wait. Once an end has been
// requested, every such message but a close is dropped (true as well): what the user asked for
// meanwhile is moot, and a click must not open a box that the end would wait behind.
bool Win32HoldDuringWait(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The session ends (WM_ENDSESSION with TRUE): the program ends with it, as if its main window
// were closed, at once or, during a wait, once the handler that waits has returned.
void Win32EndSession();

// How often waits woke up to serve the system so far, to show that held input does not keep
// them busy.
unsigned long Win32WaitWakeups();
