#pragma once
// Pieces of the Qt backend that the Qt platform services share with it.

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
// returned, in the order they came.
void QtDeliver(std::function<void()> deliver);
// A close request for wnd came from outside (the window manager, the session): when wnd is the
// main window and a probe waits, the wait ends at once. The request itself goes by QtDeliver.
void QtCloseRequested(CWnd& wnd);

// Converts the program's byte strings (UTF-8) to and from Qt's.
QString QtString(const CString& text);
CString FromQtString(const QString& text);
