// Dialog windows of the Qt backend: a QDialog per template, its controls placed at their
// dialog-unit positions, every user action turned into the window message the program's
// handlers expect.

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
#include <map>
#include <vector>

#include "framework/dialog.h"
#include "framework/qt/qtbackend.h"

namespace {

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
        if (!m_bDestroyed) m_owner.SendMessage(WM_CLOSE);
    }

private:
    CWnd& m_owner;
};

class CQtDialogImpl : public CWndImpl {
public:
    CQtDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent, bool bModal);

    QWidget* Widget() const { return m_widget.get(); }

    void Show(int nCmdShow) override {
        if (nCmdShow == SW_HIDE) {
            m_widget->hide();
        } else {
            m_widget->show();
        }
    }
    bool IsVisible() const override { return m_widget->isVisible(); }
    void SetForeground() override {
        m_widget->raise();
        m_widget->activateWindow();
    }
    void SetIcon(HICON icon, bool bBig) override {
        // One window icon carries every size; the big one is enough to set it.
        if (bBig && icon != nullptr) m_widget->setWindowIcon(QtIconOf(icon->nResourceId));
    }
    void SetTitle(const CString& text) override { m_widget->setWindowTitle(QtString(text)); }
    CString GetTitle() const override { return FromQtString(m_widget->windowTitle()); }
    void Destroy() override {
        m_widget->m_bDestroyed = true;
        for (QWidget* w : m_items) w->disconnect();
        if (m_bModal && m_bInModalLoop) m_widget->done(IDCANCEL);
        m_widget->hide();
    }
    int RunModal() override {
        m_bInModalLoop = true;
        const int result = m_widget->exec();
        m_bInModalLoop = false;
        return result;
    }
    void EndModal(int nResult) override { m_widget->done(nResult); }

    bool HasItem(int id) const override { return m_byId.count(id) != 0; }
    CString GetItemText(int id) const override;
    void SetItemText(int id, const CString& text) override;
    int GetItemCheck(int id) const override {
        auto* box = qobject_cast<QCheckBox*>(Item(id));
        return box != nullptr && box->isChecked() ? 1 : 0;
    }
    void SetItemCheck(int id, int nCheck) override {
        if (auto* box = qobject_cast<QCheckBox*>(Item(id))) box->setChecked(nCheck != 0);
    }
    void LimitItemText(int id, int nChars) override {
        if (auto* edit = qobject_cast<QLineEdit*>(Item(id))) edit->setMaxLength(nChars);
    }
    void FocusItem(int id) override {
        QWidget* w = Item(id);
        if (w == nullptr) return;
        w->setFocus(Qt::TabFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    }
    int GetFocusItem() const override {
        QWidget* focus = m_widget->focusWidget();
        for (const auto& [id, w] : m_byId) {
            if (w == focus) return id;
        }
        return 0;
    }
    bool IsItemTextSelectedWhole(int id) const override {
        auto* edit = qobject_cast<QLineEdit*>(Item(id));
        return edit != nullptr && edit->selectedText() == edit->text();
    }

    void ListInsert(int id, int nIndex, const CString& text) override {
        if (QListWidget* list = List(id)) {
            auto* item = new QListWidgetItem(QtString(text));
            // The list is laid out right to left only to put its scroll bar on the left.
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter);
            list->insertItem(nIndex, item);
        }
    }
    void ListDelete(int id, int nIndex) override {
        QListWidget* list = List(id);
        if (list == nullptr) return;
        const bool wasSelected = ListGetCurSel(id) == nIndex;
        delete list->takeItem(nIndex);
        // The native control leaves nothing selected when the selected entry goes.
        if (wasSelected) list->clearSelection();
    }
    void ListReset(int id) override {
        if (QListWidget* list = List(id)) list->clear();
    }
    int ListGetCurSel(int id) const override {
        QListWidget* list = List(id);
        if (list == nullptr) return -1;
        const QList<QListWidgetItem*> selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->row(selected.first());
    }
    void ListSetCurSel(int id, int nIndex) override {
        QListWidget* list = List(id);
        if (list == nullptr) return;
        if (nIndex < 0)
            list->clearSelection();
        else
            list->setCurrentRow(nIndex);
    }

    QWidget* Item(int id) const {
        auto it = m_byId.find(id);
        return it == m_byId.end() ? nullptr : it->second;
    }

private:
    QListWidget* List(int id) const { return qobject_cast<QListWidget*>(Item(id)); }
    QWidget* MakeItem(const CDialogItem& item, CWnd& owner);

    std::unique_ptr<CQtDialogWidget> m_widget;
    std::map<int, QWidget*> m_byId;
    std::vector<QWidget*> m_items;
    bool m_bModal;
    bool m_bInModalLoop = false;
};

CQtDialogImpl::CQtDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent, bool bModal)
    : m_bModal(bModal) {
    QWidget* parentWidget = QtWidgetOf(pParent);
    // No system menu and no minimise box: only a title bar.
    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags |= (tmpl.dwStyle & kStyleAppWindow) != 0 ? Qt::Window : Qt::Dialog;
    m_widget = std::make_unique<CQtDialogWidget>(owner, parentWidget, flags);
    m_widget->setWindowTitle(QtString(tmpl.pszCaption));
    m_widget->setSizeGripEnabled(false);

    QFont font(QString::fromLatin1(tmpl.pszFont), tmpl.nPointSize);
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
    m_widget->setFixedSize(toPixelsX(tmpl.cx), toPixelsY(tmpl.cy));

    QWidget* previous = nullptr;
    for (const CDialogItem& item : tmpl.items) {
        QWidget* w = MakeItem(item, owner);
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

    // Centred on the owner when there is one, otherwise on the screen.
    const QRect area = parentWidget != nullptr ? parentWidget->geometry()
                       : QGuiApplication::primaryScreen() != nullptr
                           ? QGuiApplication::primaryScreen()->availableGeometry()
                           : QRect(0, 0, 1024, 768);
    m_widget->move(area.center() - m_widget->rect().center());
}

QWidget* CQtDialogImpl::MakeItem(const CDialogItem& item, CWnd& owner) {
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
            QObject::connect(button, &QPushButton::clicked, button, [&owner, id] {
                owner.SendMessage(WM_COMMAND, static_cast<WPARAM>(id));
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
    QWidget* w = Item(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return FromQtString(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return FromQtString(button->text());
    if (auto* label = qobject_cast<QLabel*>(w)) return FromQtString(label->text());
    return {};
}

void CQtDialogImpl::SetItemText(int id, const CString& text) {
    QWidget* w = Item(id);
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

QString QtString(const CString& text) { return QString::fromUtf8(text.data(), int(text.size())); }

CString FromQtString(const QString& text) { return text.toStdString(); }

QIcon QtIconOf(UINT nResourceId) {
    return QIcon(QStringLiteral(":/icons/%1.ico").arg(nResourceId));
}

QPixmap QtPixmapOf(HICON icon) {
    if (icon == nullptr) return {};
    return QtIconOf(icon->nResourceId).pixmap(QSize(icon->cx, icon->cy));
}
