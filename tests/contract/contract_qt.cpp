// The contract tests' driver on the Qt backend: input goes to the widgets as Qt delivers it,
// without a display.

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QtTest/QtTest>

#include "contractdriver.h"
#include "framework/linux/qtbackend.h"
#include "framework/wnd.h"

namespace {

QWidget* ItemOf(CWnd& dlg, int id) { return QtWidgetOf(dlg.GetDlgItem(id)); }

// Where the keyboard's input goes: the focused control, or the dialog itself.
QWidget* KeyTarget(CWnd& dlg) {
    QWidget* widget = QtWidgetOf(&dlg);
    QWidget* focus = widget != nullptr ? widget->focusWidget() : nullptr;
    return focus != nullptr ? focus : widget;
}

QListWidget* ListOf(CWnd& dlg, int id) { return qobject_cast<QListWidget*>(ItemOf(dlg, id)); }

QLineEdit* EditOf(CWnd& dlg, int id) { return qobject_cast<QLineEdit*>(ItemOf(dlg, id)); }

}  // namespace

void PumpEvents() { QCoreApplication::processEvents(); }

void RunInLoop(std::function<void()> fn) { QTimer::singleShot(0, std::move(fn)); }

void UserKey(CWnd& dlg, CKey key) {
    const Qt::Key qtKey = key == CKey::Enter    ? Qt::Key_Return
                          : key == CKey::Escape ? Qt::Key_Escape
                          : key == CKey::Space  ? Qt::Key_Space
                                                : Qt::Key_Tab;
    QTest::keyClick(KeyTarget(dlg), qtKey);
    PumpEvents();
}

const bool kMnemonicsDelivered = false;

void UserMnemonic(CWnd& dlg, char letter) {
    QTest::keyClick(KeyTarget(dlg), static_cast<Qt::Key>(Qt::Key_A + (letter - 'a')),
                    Qt::AltModifier);
    PumpEvents();
}

void UserTypes(CWnd& dlg, int id, const CString& text) {
    if (CWnd* item = dlg.GetDlgItem(id)) item->SetFocus();
    QTest::keyClicks(ItemOf(dlg, id), QString::fromStdString(text));
    PumpEvents();
}

void UserClicks(CWnd& dlg, int id) {
    QTest::mouseClick(ItemOf(dlg, id), Qt::LeftButton);
    PumpEvents();
}

void UserCloses(CWnd& dlg) {
    QtWidgetOf(&dlg)->close();
    PumpEvents();
}

void OtherProgramCloses(CWnd& dlg) {
    QCoreApplication::postEvent(QtWidgetOf(&dlg), new QCloseEvent);
    PumpEvents();
}

std::vector<CString> NativeListEntries(CWnd& dlg, int id) {
    std::vector<CString> entries;
    QListWidget* list = ListOf(dlg, id);
    for (int i = 0; list != nullptr && i < list->count(); ++i)
        entries.push_back(FromQtString(list->item(i)->text()));
    return entries;
}

int NativeListSelection(CWnd& dlg, int id) {
    QListWidget* list = ListOf(dlg, id);
    if (list == nullptr || list->selectedItems().isEmpty()) return -1;
    return list->row(list->selectedItems().first());
}

void UserSelects(CWnd& dlg, int id, int nIndex) {
    if (QListWidget* list = ListOf(dlg, id)) list->setCurrentRow(nIndex);
    PumpEvents();
}

CString NativeText(CWnd& dlg, int id) {
    QLineEdit* edit = EditOf(dlg, id);
    return edit != nullptr ? FromQtString(edit->text()) : CString();
}

bool NativeTextSelectedWhole(CWnd& dlg, int id) {
    QLineEdit* edit = EditOf(dlg, id);
    return edit != nullptr && edit->selectedText() == edit->text();
}

int NativeFocus(CWnd& dlg) {
    // The widget that gets the keys. A hidden window's focus widget gets none: it is only
    // where the focus goes when the window is shown.
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || focus->window() != QtExistingWidgetOf(&dlg)) return 0;
    for (int id = 0; id < 2000; ++id) {
        if (CWnd* item = dlg.GetDlgItem(id); item != nullptr && QtWidgetOf(item) == focus)
            return id;
    }
    return 0;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    doctest::Context context(argc, argv);
    return context.run();
}
