#pragma once
// Pieces of the Qt backend that the Qt platform services share with it.

#include <QIcon>
#include <QPixmap>

#include "framework/wintypes.h"

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

// Converts the program's byte strings (UTF-8) to and from Qt's.
QString QtString(const CString& text);
CString FromQtString(const QString& text);
