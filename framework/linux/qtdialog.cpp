// Dialog windows of the Qt backend: a QDialog per template, its controls placed at their
// dialog-unit positions, every user action turned into the window message the program's
// handlers expect.

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "framework/controlstate.h"
#include "framework/dialog.h"
#include "framework/linux/qtbackend.h"
#include "framework/winapp.h"
#include "res/resources.h"

namespace {

// The frame of a dialog as its template gives it: a caption and a border; no system menu, so
// no minimise, maximise or close box; it can be moved, not resized. A window manager that
// closes it all the same sends a close request, which the dialog handles as ever. Qt tells an X11
// window manager the functions only and leaves the decorations to its taste, which is every button
// there is, so the hint is stated here in full.
void SetDialogFrame(QWidget& widget) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return;
    xcb_connection_t* connection = x11->connection();
    static constexpr char kName[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
    if (atom == nullptr) return;
    constexpr std::uint32_t kHintFunctions = 1, kHintDecorations = 2;
    constexpr std::uint32_t kFunctionMove = 4;
    constexpr std::uint32_t kDecorationBorder = 2, kDecorationTitle = 8;
    const std::uint32_t hints[5] = {kHintFunctions | kHintDecorations, kFunctionMove,
                                    kDecorationBorder | kDecorationTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(widget.winId()), atom->atom, atom->atom, 32, 5,
                        hints);
    std::free(atom);
}

class CQtDialogWidget : public QDialog {
public:
    CQtDialogWidget(CWnd& owner, QWidget* parent, Qt::WindowFlags flags)
        : QDialog(parent, flags), m_owner(owner) {}

    bool m_bDestroyed = false;

protected:
    // Escape: the dialog's Cancel command.
    void reject() override {
        if (!m_bDestroyed) m_owner.SendMessage(WM_COMMAND, IDCANCEL);
    }
    // A close request from the window manager.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (m_bDestroyed) return;
        auto close = [pWidget = QPointer<CQtDialogWidget>(this)] {
            if (pWidget && !pWidget->m_bDestroyed) pWidget->m_owner.SendMessage(WM_CLOSE);
        };
        if (QtCloseRequested(m_owner))
            QtDeliverEnd(std::move(close));
        else
            QtDeliver(std::move(close));
    }

private:
    CWnd& m_owner;
};

// The controls' state while the dialog has no widgets yet. The main dialog lives hidden in
// the tray most of its life: its widgets, fonts and style are made only when first shown.
using CItemState = CControlState;

class CQtDialogImpl : public CWndImpl {
public:
    CQtDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent, bool bModal);

    // The dialog's widget, made now if it was not yet.
    QWidget* Widget() {
        Realize();
        return m_widget.get();
    }
    QWidget* Item(int id) {
        Realize();
        return Find(id);
    }

    void Show(int nCmdShow) override {
        if (nCmdShow == SW_HIDE) {
            if (m_widget) m_widget->hide();
        } else if (nCmdShow == SW_RESTORE) {
            Widget()->showNormal();
        } else {
            Widget()->show();
        }
    }
    bool IsVisible() const override { return m_widget && m_widget->isVisible(); }
    bool IsMinimized() const override { return IsVisible() && m_widget->isMinimized(); }
    bool IsRealized() const { return m_widget != nullptr; }
    void SetForeground() override {
        // A hidden dialog has nothing to bring forward (the About box may ask for it).
        if (!m_widget || !m_widget->isVisible()) return;
        // Without a display there is no stacking order to change.
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
        m_widget->raise();
        m_widget->activateWindow();
    }
    void SetIcon(HICON icon, bool bBig) override {
        // One window icon carries every size; the big one is enough to set it.
        if (!bBig || icon == nullptr) return;
        m_nIconId = icon->nResourceId;
        if (m_widget) m_widget->setWindowIcon(QtIconOf(m_nIconId));
    }
    void SetTitle(const CString& text) override {
        m_title = text;
        if (m_widget) m_widget->setWindowTitle(QtString(text));
    }
    CString GetTitle() const override { return m_title; }
    void Destroy() override {
        m_bDestroyed = true;
        if (!m_widget) return;
        m_widget->m_bDestroyed = true;
        for (QWidget* w : m_items) w->disconnect();
        if (m_bModal && m_bInModalLoop) m_widget->done(IDCANCEL);
        m_widget->hide();
    }
    int RunModal() override {
        Realize();
        m_bInModalLoop = true;
        m_bModalEnded = false;
        const int result = m_widget->exec();
        m_bInModalLoop = false;
        // A loop that ended without EndDialog (the program is ending) is a Cancel.
        return m_bModalEnded ? result : IDCANCEL;
    }
    void EndModal(int nResult) override {
        m_bModalEnded = true;
        if (m_widget) m_widget->done(nResult);
    }

    bool HasItem(int id) const override { return m_state.count(id) != 0; }
    CString GetItemText(int id) const override;
    void SetItemText(int id, const CString& text) override;
    int GetItemCheck(int id) const override {
        if (!m_widget) return State(id).nCheck;
        auto* box = qobject_cast<QCheckBox*>(Find(id));
        return box != nullptr && box->isChecked() ? 1 : 0;
    }
    void SetItemCheck(int id, int nCheck) override {
        if (!m_widget) {
            m_state[id].nCheck = nCheck != 0 ? 1 : 0;
        } else if (auto* box = qobject_cast<QCheckBox*>(Find(id))) {
            box->setChecked(nCheck != 0);
        }
    }
    void LimitItemText(int id, int nChars) override {
        if (!m_widget) {
            m_state[id].nLimit = nChars;
        } else if (auto* edit = qobject_cast<QLineEdit*>(Find(id))) {
            edit->setMaxLength(nChars);
        }
    }
    void FocusItem(int id) override {
        if (!m_widget) {
            m_nPendingFocus = id;
            return;
        }
        QWidget* w = Find(id);
        if (w == nullptr) return;
        w->setFocus(Qt::TabFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    }
    int GetFocusItem() const override {
        if (!m_widget) return m_nPendingFocus;
        QWidget* focus = m_widget->focusWidget();
        for (const auto& [id, w] : m_byId) {
            if (w == focus) return id;
        }
        return 0;
    }
    bool IsItemTextSelectedWhole(int id) const override {
        if (!m_widget) return m_nPendingFocus == id;
        auto* edit = qobject_cast<QLineEdit*>(Find(id));
        return edit != nullptr && edit->selectedText() == edit->text();
    }

    void ListInsert(int id, int nIndex, const CString& text) override {
        if (!m_widget) {
            m_state[id].ListInsert(nIndex, text);
        } else if (QListWidget* list = List(id)) {
            list->insertItem(nIndex, MakeListItem(text));
        }
    }
    void ListDelete(int id, int nIndex) override {
        if (!m_widget) {
            m_state[id].ListDelete(nIndex);
            return;
        }
        QListWidget* list = List(id);
        if (list == nullptr) return;
        const bool wasSelected = ListGetCurSel(id) == nIndex;
        delete list->takeItem(nIndex);
        if (wasSelected) list->clearSelection();
    }
    void ListReset(int id) override {
        if (!m_widget) {
            m_state[id].entries.clear();
            m_state[id].nCurSel = -1;
        } else if (QListWidget* list = List(id)) {
            list->clear();
        }
    }
    int ListGetCurSel(int id) const override {
        if (!m_widget) return State(id).nCurSel;
        QListWidget* list = List(id);
        if (list == nullptr) return -1;
        const QList<QListWidgetItem*> selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->row(selected.first());
    }
    void ListSetCurSel(int id, int nIndex) override {
        if (!m_widget) {
            m_state[id].nCurSel = nIndex;
            return;
        }
        QListWidget* list = List(id);
        if (list == nullptr) return;
        if (nIndex < 0)
            list->clearSelection();
        else
            list->setCurrentRow(nIndex);
    }

private:
    const CItemState& State(int id) const { return m_state.at(id); }
    QWidget* Find(int id) const {
        auto it = m_byId.find(id);
        return it == m_byId.end() ? nullptr : it->second;
    }
    QListWidget* List(int id) const { return qobject_cast<QListWidget*>(Find(id)); }
    static QListWidgetItem* MakeListItem(const CString& text) {
        auto* item = new QListWidgetItem(QtString(text));
        // The list is laid out right to left only to put its scroll bar on the left.
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter);
        return item;
    }
    // Makes the widgets and hands them the controls' state.
    void Realize();
    QWidget* MakeItem(const CDialogItem& item);

    CWnd& m_owner;
    const CDialogTemplate& m_template;
    CWnd* m_pParent;
    bool m_bModal;
    bool m_bInModalLoop = false;
    bool m_bModalEnded = false;
    bool m_bDestroyed = false;
    CString m_title;
    UINT m_nIconId = 0;
    int m_nPendingFocus = 0;
    std::map<int, CItemState> m_state;  // until the widgets exist
    std::unique_ptr<CQtDialogWidget> m_widget;
    std::map<int, QWidget*> m_byId;
    std::vector<QWidget*> m_items;
};

CQtDialogImpl::CQtDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent, bool bModal)
    : m_owner(owner),
      m_template(tmpl),
      m_pParent(pParent),
      m_bModal(bModal),
      m_title(tmpl.pszCaption) {
    for (const CDialogItem& item : tmpl.items) {
        if (item.nID != -1)
            m_state[item.nID] = CItemState(item.kind, item.pszText != nullptr ? item.pszText : "");
    }
}

void CQtDialogImpl::Realize() {
    if (m_widget || m_bDestroyed) return;
    // A parent never shown has no widget to centre on: the screen will do.
    QWidget* parentWidget = QtExistingWidgetOf(m_pParent);
    // No system menu and no minimise box: only a title bar.
    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags |= (m_template.dwStyle & kStyleAppWindow) != 0 ? Qt::Window : Qt::Dialog;
    m_widget = std::make_unique<CQtDialogWidget>(m_owner, parentWidget, flags);
    m_widget->setWindowTitle(QtString(m_title));
    if (m_nIconId != 0) m_widget->setWindowIcon(QtIconOf(m_nIconId));
    m_widget->setSizeGripEnabled(false);
    SetDialogFrame(*m_widget);

    QFont font(QString::fromLatin1(m_template.pszFont), m_template.nPointSize);
    font.setStyleHint(QFont::SansSerif);
    m_widget->setFont(font);
    // Dialog units: a quarter of the average character width, an eighth of the line height.
    const QFontMetrics metrics(font);
    const int baseX = (metrics.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           26 +
                       1) /
                      2;
    const int baseY = metrics.height();
    auto toPixelsX = [baseX](int v) { return (v * baseX + 2) / 4; };
    auto toPixelsY = [baseY](int v) { return (v * baseY + 4) / 8; };
    m_widget->setFixedSize(toPixelsX(m_template.cx), toPixelsY(m_template.cy));

    QWidget* previous = nullptr;
    for (const CDialogItem& item : m_template.items) {
        QWidget* w = MakeItem(item);
        w->setGeometry(toPixelsX(item.x), toPixelsY(item.y), toPixelsX(item.cx),
                       toPixelsY(item.cy));
        if (item.kind == CtrlKind::Icon) w->resize(32, 32);
        if ((item.dwStyle & kStyleTabStop) != 0) {
            w->setFocusPolicy(Qt::StrongFocus);
            if (previous != nullptr) QWidget::setTabOrder(previous, w);
            previous = w;
        } else if (item.kind != CtrlKind::Static && item.kind != CtrlKind::Icon) {
            w->setFocusPolicy(Qt::ClickFocus);
        }
        if (item.nID != -1) m_byId[item.nID] = w;
        m_items.push_back(w);
    }

    // For screen readers: each control with its label as buddy (the labelled-by relation),
    // its name and its description.
    for (const CAccessibleItem& accessible : m_template.accessible) {
        QWidget* w = Find(accessible.nID);
        if (w == nullptr) continue;
        if (auto* label = qobject_cast<QLabel*>(Find(accessible.nLabelID))) label->setBuddy(w);
        if (accessible.nNameId != 0)
            w->setAccessibleName(QtString(AfxLoadString(accessible.nNameId)));
        if (accessible.nDescriptionId != 0)
            w->setAccessibleDescription(QtString(AfxLoadString(accessible.nDescriptionId)));
    }

    // Hand over what was set before the widgets existed.
    for (auto& [id, state] : m_state) {
        QWidget* w = Find(id);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            if (state.nLimit >= 0) edit->setMaxLength(state.nLimit);
            edit->setText(QtString(state.text));
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            box->setChecked(state.nCheck != 0);
        } else if (auto* list = qobject_cast<QListWidget*>(w)) {
            for (const CString& entry : state.entries) list->addItem(MakeListItem(entry));
            if (state.nCurSel >= 0) list->setCurrentRow(state.nCurSel);
        }
    }
    m_state.clear();
    for (const CDialogItem& item : m_template.items) {
        if (item.nID != -1) m_state[item.nID] = CItemState(item.kind, {});
    }

    // Centred on the owner when there is one, otherwise on the screen.
    const QRect area = parentWidget != nullptr ? parentWidget->geometry()
                       : QGuiApplication::primaryScreen() != nullptr
                           ? QGuiApplication::primaryScreen()->availableGeometry()
                           : QRect(0, 0, 1024, 768);
    m_widget->move(area.center() - m_widget->rect().center());
    if (m_nPendingFocus != 0) FocusItem(m_nPendingFocus);
}

QWidget* CQtDialogImpl::MakeItem(const CDialogItem& item) {
    QWidget* parent = m_widget.get();
    const QString text = QtString(item.pszText != nullptr ? item.pszText : "");
    switch (item.kind) {
        case CtrlKind::Edit:
            return new QLineEdit(parent);
        case CtrlKind::CheckBox:
            return new QCheckBox(text, parent);
        case CtrlKind::PushButton:
        case CtrlKind::DefPushButton: {
            auto* button = new QPushButton(text, parent);
            // A focused button takes Enter; otherwise the default button does.
            button->setAutoDefault(true);
            button->setDefault(item.kind == CtrlKind::DefPushButton);
            const int id = item.nID;
            QObject::connect(button, &QPushButton::clicked, button, [this, button, id] {
                // A mnemonic works even while a probe waits: its command waits too.
                QtDeliver([this, pButton = QPointer<QPushButton>(button), id] {
                    if (pButton) m_owner.SendMessage(WM_COMMAND, static_cast<WPARAM>(id));
                });
            });
            return button;
        }
        case CtrlKind::ListBox: {
            auto* list = new QListWidget(parent);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
            list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            if ((item.dwStyle & kStyleLeftScrollBar) != 0)
                list->setLayoutDirection(Qt::RightToLeft);
            return list;
        }
        case CtrlKind::Icon: {
            auto* label = new QLabel(parent);
            label->setPixmap(QtIconOf(item.nIconId).pixmap(32, 32));
            return label;
        }
        case CtrlKind::Static:
        default: {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            QString shown = text;
            // A static shows '&&' as '&' and drops a single '&' (it marks a mnemonic).
            if ((item.dwStyle & kStyleNoPrefix) == 0) {
                shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
                shown.remove(QLatin1Char('&'));
                shown.replace(QLatin1Char('\x01'), QLatin1Char('&'));
            }
            label->setText(shown);
            return label;
        }
    }
}

CString CQtDialogImpl::GetItemText(int id) const {
    if (!m_widget) return HasItem(id) ? State(id).text : CString();
    QWidget* w = Find(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return FromQtString(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return FromQtString(button->text());
    if (auto* label = qobject_cast<QLabel*>(w)) return FromQtString(label->text());
    return {};
}

void CQtDialogImpl::SetItemText(int id, const CString& text) {
    if (!m_widget) {
        CItemState& state = m_state[id];
        // An edit limited to n characters takes no more, as the native one does.
        state.text = state.nLimit >= 0 && state.kind == CtrlKind::Edit
                         ? AfxLeftChars(text, state.nLimit)
                         : text;
        return;
    }
    QWidget* w = Find(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(QtString(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(QtString(text));
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(QtString(text));
}

}  // namespace

std::unique_ptr<CWndImpl> CreateDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent,
                                           bool bModal) {
    return std::make_unique<CQtDialogImpl>(owner, tmpl, pParent, bModal);
}

QWidget* QtWidgetOf(CWnd* pWnd) {
    if (pWnd == nullptr) return nullptr;
    auto* impl = dynamic_cast<CQtDialogImpl*>(
        const_cast<CWndImpl*>(static_cast<const CWndImpl*>(pWnd->GetSafeHwnd())));
    if (impl == nullptr) return nullptr;
    return pWnd->GetDlgCtrlID() != 0 ? impl->Item(pWnd->GetDlgCtrlID()) : impl->Widget();
}

QWidget* QtExistingWidgetOf(CWnd* pWnd) {
    if (pWnd == nullptr) return nullptr;
    auto* impl = dynamic_cast<CQtDialogImpl*>(
        const_cast<CWndImpl*>(static_cast<const CWndImpl*>(pWnd->GetSafeHwnd())));
    return impl != nullptr && impl->IsRealized() ? QtWidgetOf(pWnd) : nullptr;
}

QString QtString(const CString& text) { return QString::fromUtf8(text.data(), int(text.size())); }

CString FromQtString(const QString& text) { return text.toStdString(); }

// Linux has no string resources: the table is compiled in.
CString AfxLoadString(UINT nID) { return LoadResString(nID); }
