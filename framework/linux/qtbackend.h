#pragma once
// The framework's backend on Linux: Qt widgets placed from the dialog templates.
//
// Supports: every control kind of the templates (edits, check boxes, push buttons, the list
// box with its scroll bar on the left, statics with or without mnemonics, icons), placed in
// dialog units converted with the dialog font's metrics; modeless and modal dialogs, the
// tab order of the template, Enter and Escape, mnemonics from a window system's keyboard;
// X11 (frame hints sent to the window manager directly) and Wayland; the string table
// compiled in (res/strings.def); screen readers through Qt's AT-SPI bridge, each control of
// the template's accessibility rows with its label as buddy (the labelled-by relation), its
// name and its description.
// Counts differently: an edit's text limit counts UTF-16 units, so a character outside the
// Basic Multilingual Plane takes two while typing; the framework's own check (DDV_MaxChars)
// counts characters, and it decides.
// Does not: a system menu (the frame has a caption and a border only); under the offscreen
// platform (tests, no display) there is no stacking order, so bringing a window forward does
// nothing, synthetic key events carry no mnemonics, and boxes are written to stderr instead
// of shown (platform/linux/qtdesktop.cpp).
//
// Below: the pieces the Linux platform services share with it.

#include <QIcon>
#include <QPixmap>
#include <functional>

#include "base/wintypes.h"

class CWnd;
class QWidget;

// The widget of a window, or null when it has none (gone, or not a dialog). A dialog gets
// its widgets when first shown; this makes them if need be.
QWidget* QtWidgetOf(CWnd* pWnd);
// The same, but null for a dialog whose widgets were never made (an owner for boxes).
QWidget* QtExistingWidgetOf(CWnd* pWnd);

// One of the program's icon resources at the size the handle asks for.
QIcon QtIconOf(UINT nResourceId);
QPixmap QtPixmapOf(HICON icon);

// Hands something from the toolkit to the program's handlers (a click, a tick, a close
// request): at once, or, while a probe waits (AfxWaitServing), once the handler that waits has
// returned, in the order they came. Of those of one kind (pKind, not null: a click on the icon,
// a request from another start) one is held at a time: the user asked for it once.
void QtDeliver(std::function<void()> deliver, const void* pKind = nullptr);
// Hands over the request to end the program: at once, or, while a probe waits, as soon as the
// handler that waits has returned, before anything held; what was held is dropped.
void QtDeliverEnd(std::function<void()> end);
// A close request for wnd came from outside (the window manager, the session). True when wnd
// is the main window, whose close ends the program: it then goes by QtDeliverEnd, and a probe
// that waits stops waiting at once. Others go by QtDeliver.
bool QtCloseRequested(CWnd& wnd);

// Converts the program's byte strings (UTF-8) to and from Qt's.
QString QtString(const CString& text);
CString FromQtString(const QString& text);
