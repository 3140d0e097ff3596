#pragma once
// The Win32 backend's message loop, shared by the main loop and every modal one.

#include "framework/wintypes.h"

// The dialogs whose keyboard (Tab, Enter, Escape, mnemonics) the dialog manager handles.
void Win32RememberDialog(HWND hDialog);
void Win32ForgetDialog(HWND hDialog);

// Waits for one message and dispatches it. False on the quit message, which is posted again
// so that every loop around this one ends too.
bool Win32PumpMessage();

// Hands one message to the dialog manager of its dialog, or to its window.
void Win32Dispatch(MSG& msg);
