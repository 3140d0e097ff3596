// The real program as a screen reader and a keyboard user meet it, on an X11 desktop in the
// loopback-only namespace: the dialog, opened by a click on the tray icon, read through the
// accessibility bus (AT-SPI, as screen readers read it: every control's role, name,
// description and label); then every function of the dialog and the About box used with the
// keyboard alone.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QtTest/QtTest>
#include <functional>
#include <memory>

#include "harness/desktop.h"
#include "harness/netns.h"
#include "harness/program.h"

namespace {

constexpr char kRootPath[] = "/org/a11y/atspi/accessible/root";
constexpr char kAccessible[] = "org.a11y.atspi.Accessible";
// The relation of a control to the label it is read with.
// The relations between a control and the label it is read with, from either side.
constexpr uint kRelationLabelFor = 1;
constexpr uint kRelationLabelledBy = 2;

}  // namespace

// An object on the accessibility bus: the program's connection and the object's path.
struct CAtspiRef {
    QString strService;
    QDBusObjectPath path;
};
Q_DECLARE_METATYPE(CAtspiRef)
struct CAtspiRelation {
    uint nType = 0;
    QList<CAtspiRef> targets;
};
Q_DECLARE_METATYPE(CAtspiRelation)

QDBusArgument& operator<<(QDBusArgument& arg, const CAtspiRef& ref) {
    arg.beginStructure();
    arg << ref.strService << ref.path;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CAtspiRef& ref) {
    arg.beginStructure();
    arg >> ref.strService >> ref.path;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const CAtspiRelation& relation) {
    arg.beginStructure();
    arg << relation.nType << relation.targets;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CAtspiRelation& relation) {
    arg.beginStructure();
    arg >> relation.nType >> relation.targets;
    arg.endStructure();
    return arg;
}

namespace {

// One accessible object as a screen reader reads it.
struct CNode {
    CAtspiRef ref;
    QString strRole;
    QString strName;
    QString strDescription;
    QStringList labelledBy;  // the names of the labels it is read with
    QStringList labelFor;    // for a label: the names of what it labels
    int nDepth = 0;
};

// The session's accessibility bus, switched on as a screen reader switches it on.
class CAtspi {
public:
    explicit CAtspi(const QString& strSessionBus)
        : m_session(QDBusConnection::connectToBus(strSessionBus, "session")) {
        qDBusRegisterMetaType<CAtspiRef>();
        qDBusRegisterMetaType<QList<CAtspiRef>>();
        qDBusRegisterMetaType<CAtspiRelation>();
        qDBusRegisterMetaType<QList<CAtspiRelation>>();
        // The bus launcher is started by the session bus on this first call.
        const QDBusMessage enabled = m_session.call(
            Method("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                   {"org.a11y.Status", "IsEnabled", QVariant::fromValue(QDBusVariant(true))}));
        if (enabled.type() == QDBusMessage::ErrorMessage) {
            m_strError = "cannot switch accessibility on: " + enabled.errorMessage();
            return;
        }
        const QDBusReply<QString> address =
            m_session.call(Method("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
        if (!address.isValid()) {
            m_strError = "no accessibility bus: " + address.error().message();
            return;
        }
        m_a11y = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address.value(), "a11y"));
        if (!m_a11y->isConnected()) m_strError = "cannot reach the accessibility bus";
    }
    ~CAtspi() {
        m_a11y.reset();
        QDBusConnection::disconnectFromBus("a11y");
        QDBusConnection::disconnectFromBus("session");
    }
    CAtspi(const CAtspi&) = delete;
    CAtspi& operator=(const CAtspi&) = delete;

    QString Error() const { return m_strError; }

    // The window of the application named strApp whose name is strWindow, as soon as the
    // application has shown it.
    std::optional<CAtspiRef> Window(const QString& strApp, const QString& strWindow,
                                    int nTimeoutMs) {
        QElapsedTimer clock;
        clock.start();
        do {
            for (const CAtspiRef& app :
                 Children({"org.a11y.atspi.Registry", QDBusObjectPath(kRootPath)})) {
                if (Text(app, "Name").compare(strApp, Qt::CaseInsensitive) != 0) continue;
                for (const CAtspiRef& window : Children(app)) {
                    if (Text(window, "Name") == strWindow) return window;
                }
            }
            QTest::qWait(100);
        } while (clock.elapsed() < nTimeoutMs);
        return std::nullopt;
    }

    // The object and everything below it, depth first.
    QList<CNode> Tree(const CAtspiRef& root) {
        QList<CNode> nodes;
        std::function<void(const CAtspiRef&, int)> walk = [&](const CAtspiRef& ref, int depth) {
            CNode node;
            node.ref = ref;
            node.nDepth = depth;
            node.strRole = Call<QString>(ref, "GetRoleName");
            node.strName = Text(ref, "Name");
            node.strDescription = Text(ref, "Description");
            for (const CAtspiRelation& relation :
                 Call<QList<CAtspiRelation>>(ref, "GetRelationSet")) {
                for (const CAtspiRef& target : relation.targets) {
                    if (relation.nType == kRelationLabelledBy)
                        node.labelledBy << Text(target, "Name");
                    else if (relation.nType == kRelationLabelFor)
                        node.labelFor << Text(target, "Name");
                }
            }
            nodes << node;
            for (const CAtspiRef& child : Children(ref)) walk(child, depth + 1);
        };
        walk(root, 0);
        return nodes;
    }

private:
    QList<CAtspiRef> Children(const CAtspiRef& ref) {
        return Call<QList<CAtspiRef>>(ref, "GetChildren");
    }
    static QDBusMessage Method(const QString& strService, const QString& strPath,
                               const QString& strInterface, const QString& strMethod,
                               const QVariantList& args = {}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(strService, strPath, strInterface, strMethod);
        message.setArguments(args);
        return message;
    }
    template <typename T>
    T Call(const CAtspiRef& ref, const char* pszMethod) {
        const QDBusReply<T> reply =
            m_a11y->call(Method(ref.strService, ref.path.path(), kAccessible, pszMethod));
        return reply.isValid() ? reply.value() : T();
    }
    QString Text(const CAtspiRef& ref, const char* pszProperty) {
        const QDBusReply<QDBusVariant> reply =
            m_a11y->call(Method(ref.strService, ref.path.path(), "org.freedesktop.DBus.Properties",
                                "Get", {kAccessible, pszProperty}));
        return reply.isValid() ? reply.value().variant().toString() : QString();
    }

    QDBusConnection m_session;
    std::unique_ptr<QDBusConnection> m_a11y;
    QString m_strError;
};

QString Describe(const QList<CNode>& nodes) {
    QString text;
    for (const CNode& node : nodes) {
        text += QString(node.nDepth * 2, ' ') + node.strRole + " \"" + node.strName + "\"";
        if (!node.strDescription.isEmpty()) text += " description \"" + node.strDescription + "\"";
        if (!node.labelledBy.isEmpty())
            text += " labelled by \"" + node.labelledBy.join("\", \"") + "\"";
        if (!node.labelFor.isEmpty()) text += " label for \"" + node.labelFor.join("\", \"") + "\"";
        text += "\n";
    }
    return text;
}

}  // namespace

class CTestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ScreenReaderReadsEveryControl();
    void KeyboardAlone();
    void cleanupTestCase();

private:
    std::unique_ptr<CDesktop> m_pDesktop;
};

void CTestAccessibility::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    m_pDesktop = std::make_unique<CDesktop>();
    QVERIFY2(m_pDesktop->IsUp(),
             "no desktop session (Xvfb, dbus-daemon, icewm with its notification area)");
}

void CTestAccessibility::cleanupTestCase() { m_pDesktop.reset(); }

void CTestAccessibility::ScreenReaderReadsEveryControl() {
    CAtspi atspi(m_pDesktop->BusAddress());
    QVERIFY2(atspi.Error().isEmpty(), qPrintable(atspi.Error()));
    CProgram program("3\r\n0\r\n1\r\n127.0.0.1\r\n", m_pDesktop->Session());
    QVERIFY(program.Started());
    QVERIFY2(m_pDesktop->OpenDialog() != XCB_NONE, qPrintable(program.Outcome()));

    const std::optional<CAtspiRef> dialog = atspi.Window("quorvane", kDialogCaption, 10000);
    QVERIFY2(dialog.has_value(), "the dialog is not on the accessibility bus");
    const QList<CNode> nodes = atspi.Tree(*dialog);
    const QString tree = Describe(nodes);
    qInfo().noquote() << "The dialog as a screen reader reads it:\n" + tree;

    // Each control by its name: its role, its description and the labels it is read with.
    struct CExpected {
        const char* pszRole;
        const char* pszName;
        const char* pszDescription;
        const char* pszLabel;
    };
    const CExpected expected[] = {
        {"text", "Delay", "seconds, 3 to 3600", "Delay:"},
        {"check box", "Sound", "", nullptr},
        {"check box", "Cycle on No Contact", "", nullptr},
        {"text", "New Server", "", "New Server:"},
        {"push button", "Add", "", nullptr},
        {"push button", "Remove", "", nullptr},
        {"push button", "OK", "", nullptr},
        {"push button", "About...", "", nullptr},
        {"list", "Server List", "", "Server List:"},
        {"push button", "Exit", "", nullptr},
    };
    for (const CExpected& control : expected) {
        const auto it = std::find_if(nodes.begin(), nodes.end(), [&](const CNode& node) {
            return node.strName == QLatin1String(control.pszName);
        });
        QVERIFY2(it != nodes.end(),
                 qPrintable(QString("no control named \"%1\" in:\n%2").arg(control.pszName, tree)));
        QCOMPARE(it->strRole, QString(control.pszRole));
        QCOMPARE(it->strDescription, QString(control.pszDescription));
        // The label names the control it labels. The control names its label too, except the
        // list: Qt's list view reports no relations of its own.
        QStringList labels;
        for (const CNode& node : nodes) {
            if (node.labelFor.contains(control.pszName)) labels << node.strName;
        }
        const QStringList expectedLabels =
            control.pszLabel != nullptr ? QStringList{control.pszLabel} : QStringList();
        QVERIFY2(labels == expectedLabels,
                 qPrintable(QString("\"%1\" is labelled by \"%2\", not \"%3\"")
                                .arg(control.pszName, labels.join("\", \""),
                                     expectedLabels.join("\", \""))));
        if (it->strRole != "list")
            QVERIFY2(it->labelledBy == expectedLabels,
                     qPrintable(QString("\"%1\" names no label \"%2\"")
                                    .arg(control.pszName, expectedLabels.join("\", \""))));
    }
    // The list's entry is read too.
    QVERIFY2(std::any_of(nodes.begin(), nodes.end(),
                         [](const CNode& node) { return node.strName == "127.0.0.1"; }),
             qPrintable(tree));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestAccessibility::KeyboardAlone() {
    // Sound off, one server that answers.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n", m_pDesktop->Session());
    QVERIFY(program.Started());
    const xcb_window_t dialog = m_pDesktop->OpenDialog();
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));

    // The Delay edit has the focus, its text selected: a new delay is typed over it. Tab
    // walks the template's order: Sound, Cycle on No Contact, New Server.
    QVERIFY(m_pDesktop->Keys(dialog, {"4", "5", "Tab", "space", "Tab", "space", "Tab"}));
    QVERIFY(m_pDesktop->Xdotool({"type", "--delay", "20", "127.0.0.2"}));
    // Add by its mnemonic: the address answers and joins the list.
    QVERIFY(m_pDesktop->Keys(dialog, "alt+a"));
    QTest::qWait(1500);
    // Tab from New Server: Add, Remove, OK, About..., the list: its last entry selected with
    // the arrows, and Remove by its mnemonic puts it back in the New Server edit.
    QVERIFY(m_pDesktop->Keys(dialog, {"Tab", "Tab", "Tab", "Tab", "Tab", "End", "alt+r"}));
    QTest::qWait(500);
    // Added again, then OK with Enter: the dialog goes and the list is saved.
    QVERIFY(m_pDesktop->Keys(dialog, "alt+a"));
    QTest::qWait(1500);
    QVERIFY(m_pDesktop->Keys(dialog, "Return"));
    QElapsedTimer clock;
    clock.start();
    const QByteArray saved("45\r\n1\r\n1\r\n127.0.0.1\r\n127.0.0.2\r\n");
    while (program.ListFile() != saved && clock.elapsed() < 5000) QTest::qWait(100);
    QCOMPARE(program.ListFile(), saved);

    // Opened again: About... reached with Tab, pressed with the space bar; its OK with Enter.
    const xcb_window_t again = m_pDesktop->OpenDialog();
    QVERIFY2(again != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(m_pDesktop->Keys(again, {"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "space"}));
    const xcb_window_t about = m_pDesktop->WindowNamed("About Quorvane", 10000);
    QVERIFY2(about != XCB_NONE, "About... did not open the About box");
    QVERIFY(m_pDesktop->Keys(about, "Return"));
    // Exit by its mnemonic ends the program.
    QTest::qWait(500);
    QVERIFY(m_pDesktop->Keys(again, "alt+x"));
    QVERIFY2(program.EndsWithZero(5000), qPrintable(program.Outcome()));
    QCOMPARE(program.ListFile(), saved);
}

QTEST_GUILESS_MAIN(CTestAccessibility)
#include "test_accessibility.moc"
