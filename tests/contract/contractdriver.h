#pragma once
// What the window layer's contract tests need of the real backend underneath, one source per
// backend: the user's keys, typing and clicks, the native controls' own state, and the loop.

#include <functional>
#include <vector>

#include "base/wintypes.h"

class CWnd;

enum class CKey { Enter, Escape, Tab, Space };

// Handles every event that is waiting, without blocking.
void PumpEvents();
// Runs fn once the next message loop (the main one, or a modal dialog's) is running.
void RunInLoop(std::function<void()> fn);

// The user at the keyboard: a key to the control that has the focus, a mnemonic (Alt and a
// letter), text typed into a control (the focus moved there first).
void UserKey(CWnd& dlg, CKey key);
void UserMnemonic(CWnd& dlg, char letter);
// Whether UserMnemonic reaches the dialog here: Qt takes mnemonics only from a window system's
// keyboard (the desktop tests press them there).
extern const bool kMnemonicsDelivered;
void UserTypes(CWnd& dlg, int id, const CString& text);
// A mouse click on a button, and the window manager's close.
void UserClicks(CWnd& dlg, int id);
void UserCloses(CWnd& dlg);
// A close request sent by another program (or the session), even to a disabled window.
void OtherProgramCloses(CWnd& dlg);

// The native list control as the user sees it, and a click on one of its entries.
std::vector<CString> NativeListEntries(CWnd& dlg, int id);
int NativeListSelection(CWnd& dlg, int id);
void UserSelects(CWnd& dlg, int id, int nIndex);
// The native edit's text, and whether all of it is selected.
CString NativeText(CWnd& dlg, int id);
bool NativeTextSelectedWhole(CWnd& dlg, int id);
// The control that has the keyboard focus; 0 when it is outside the dialog, or the dialog is
// hidden.
int NativeFocus(CWnd& dlg);
