// The real program and its list file on an X11 desktop in the loopback-only namespace: saves
// that a real file system refuses (full, out of inodes, mounted read-only), a list that
// cannot be read, and one instance per list folder. Mounts need root, in the private mount
// namespace the test command gives the suite.

#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QtTest/QtTest>
#include <memory>

#include "desktop.h"
#include "netns.h"
#include "wire.h"

namespace {

// The framework's file-error box has the program's name for its caption.
constexpr char kBoxCaption[] = "quorvane";
// An hour between ticks: any request soon after OK comes from the values typed in it.
constexpr char kHourList[] = "3600\r\n0\r\n0\r\n127.0.0.31\r\n";

bool Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder of its own, which a test may mount over before the program starts in it.
class CFolder {
public:
    CFolder() { m_strPath = m_dir.path() + "/list"; }
    ~CFolder() {
        if (m_bMounted) Run("umount", {"-l", m_strPath});
    }
    CFolder(const CFolder&) = delete;
    CFolder& operator=(const CFolder&) = delete;

    QString Path() const { return m_strPath; }
    QString ListPath() const { return m_strPath + "/Quorvane.Lst"; }
    bool Make() { return QDir().mkpath(m_strPath); }
    bool Mount(const QStringList& args) {
        if (!Make() || !Run("mount", args + QStringList{m_strPath})) return false;
        m_bMounted = true;
        return true;
    }
    bool Write(const QByteArray& list) {
        QFile file(ListPath());
        return file.open(QIODevice::WriteOnly) && file.write(list) == list.size() && file.flush();
    }
    QStringList Files() const {
        return QDir(m_strPath).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

private:
    QTemporaryDir m_dir;
    QString m_strPath;
    bool m_bMounted = false;
};

// The real program started in a folder, with the session's environment.
class CStarted {
public:
    CStarted(const QString& dir, const QStringList& session, const QStringList& wrapper = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : session)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(dir);
        m_process.setStandardErrorFile(m_log.filePath("stderr"));
        QStringList command = wrapper;
        command << QStringLiteral(QV_QUORVANE_PATH);
        m_process.start(command.takeFirst(), command);
    }
    ~CStarted() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    CStarted(const CStarted&) = delete;
    CStarted& operator=(const CStarted&) = delete;

    bool Started() { return m_process.waitForStarted(); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    void Kill() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool EndsWithZero(int nMs) {
        return m_process.waitForFinished(nMs) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }
    bool EndCleanly() {
        m_process.terminate();
        return EndsWithZero(5000) && MemoryErrorIn(StdErr()).isEmpty();
    }
    QByteArray StdErr() const { return ReadAll(m_log.filePath("stderr")); }
    QString Outcome() const {
        return QStringLiteral("state %1, exit status %2, code %3; stderr:\n%4")
            .arg(m_process.state())
            .arg(m_process.exitStatus())
            .arg(m_process.exitCode())
            .arg(QString::fromUtf8(StdErr()));
    }

private:
    QTemporaryDir m_log;
    QProcess m_process;
};

}  // namespace

class CTestDesktopLists : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void FailedSaveGoesOn_data();
    void FailedSaveGoesOn();
    void UnreadableListSaysSo();
    void OneInstancePerFolder();
    void cleanupTestCase();

private:
    std::unique_ptr<CDesktop> m_pDesktop;
};

void CTestDesktopLists::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    m_pDesktop = std::make_unique<CDesktop>();
    QVERIFY2(m_pDesktop->IsUp(),
             "no desktop session (Xvfb, dbus-daemon, icewm with its notification area)");
}

void CTestDesktopLists::cleanupTestCase() { m_pDesktop.reset(); }

void CTestDesktopLists::FailedSaveGoesOn_data() {
    QTest::addColumn<QString>("strFault");
    // Room for the list and not a page more: the new text cannot be written.
    QTest::newRow("full file system") << "full";
    // Every inode taken: not even the temporary file can be made.
    QTest::newRow("no free inodes") << "inodes";
    QTest::newRow("read-only mount") << "readonly";
}

void CTestDesktopLists::FailedSaveGoesOn() {
    QFETCH(QString, strFault);
    if (geteuid() != 0) QSKIP("mounting a failing file system needs root");
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QElapsedTimer clock;  // as the capture's
    clock.start();

    CFolder folder;
    if (strFault == "full") {
        QVERIFY(folder.Mount({"-t", "tmpfs", "-o", "size=8k,mode=755", "tmpfs"}));
        QVERIFY(folder.Write(kHourList));
        // Fill what is left.
        QFile filler(folder.Path() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray page(4096, 'x');
        while (filler.write(page) == page.size() && filler.flush()) {
        }
        filler.close();
    } else if (strFault == "inodes") {
        // The root directory and the list take both.
        QVERIFY(folder.Mount({"-t", "tmpfs", "-o", "size=64k,nr_inodes=2,mode=755", "tmpfs"}));
        QVERIFY(folder.Write(kHourList));
        QVERIFY(!QFile(folder.Path() + "/probe").open(QIODevice::WriteOnly));
    } else {
        QVERIFY(folder.Make());
        QVERIFY(folder.Write(kHourList));
        QVERIFY(folder.Mount({"--bind", folder.Path()}));
        QVERIFY(Run("mount", {"-o", "remount,bind,ro", folder.Path()}));
    }
    const QStringList files = folder.Files();

    CStarted program(folder.Path(), m_pDesktop->Session());
    QVERIFY(program.Started());
    xcb_window_t dialog = m_pDesktop->OpenDialog();
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
    // The Delay edit has the focus, its text selected: a 3 s delay, then OK.
    QVERIFY(m_pDesktop->Keys(dialog, "3"));
    QVERIFY(m_pDesktop->Xdotool({"key", "Return"}));
    const xcb_window_t box = m_pDesktop->WindowNamed(kBoxCaption, 10000);
    QVERIFY2(box != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(m_pDesktop->Keys(box, "Return"));
    const double closedAt = clock.elapsed() / 1000.0;

    // The rest of OK: the dialog hidden, the cycle running with the new delay.
    QVERIFY(m_pDesktop->WindowNamed(kDialogCaption, 0) == XCB_NONE);
    QVERIFY2(capture.RunUntilSeen({"127.0.0.31"}, closedAt + 6.0), qPrintable(program.Outcome()));
    const double firstAfter = capture.To({"127.0.0.31"}).first().seconds - closedAt;
    qInfo("%s: the first echo request %.2f s after the box closed", qPrintable(strFault),
          firstAfter);
    // The icon takes clicks again.
    dialog = m_pDesktop->OpenDialog();
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));

    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    QCOMPARE(ReadAll(folder.ListPath()), QByteArray(kHourList));
    QCOMPARE(folder.Files(), files);
}

void CTestDesktopLists::UnreadableListSaysSo() {
    if (geteuid() != 0) QSKIP("running the program as another user needs root");
    CFolder folder;
    QVERIFY(folder.Make());
    QVERIFY(folder.Write(kHourList));
    QVERIFY(::chmod(QFile::encodeName(folder.ListPath()).constData(), 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder.Path()).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(QFileInfo(folder.Path()).path()).constData(), 0755) == 0);
    // Root reads any file: the program runs as nobody.
    CStarted program(folder.Path(), m_pDesktop->Session(),
                     {"setpriv", "--reuid", "65534", "--regid", "65534", "--clear-groups"});
    QVERIFY(program.Started());
    const xcb_window_t box = m_pDesktop->WindowNamed(kBoxCaption, 15000);
    QVERIFY2(box != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(m_pDesktop->Keys(box, "Return"));
    // Said once, and the program goes on with its icon.
    QVERIFY2(m_pDesktop->TrayIcon(10000) != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(m_pDesktop->WindowNamed(kBoxCaption, 1000) == XCB_NONE);
    QVERIFY2(program.Running(), qPrintable(program.Outcome()));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestDesktopLists::OneInstancePerFolder() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QElapsedTimer clock;  // as the capture's
    clock.start();
    CFolder one, two;
    QVERIFY(one.Make() && two.Make());
    QVERIFY(one.Write("3\r\n0\r\n0\r\n127.0.0.32\r\n"));
    QVERIFY(two.Write("3\r\n0\r\n0\r\n127.0.0.33\r\n"));

    auto first = std::make_unique<CStarted>(one.Path(), m_pDesktop->Session());
    QVERIFY(first->Started());
    QVERIFY2(m_pDesktop->TrayIcon(10000) != XCB_NONE, qPrintable(first->Outcome()));
    // A second start in the same folder opens the first one's dialog and ends.
    QElapsedTimer secondClock;
    secondClock.start();
    CStarted second(one.Path(), m_pDesktop->Session());
    QVERIFY(second.Started());
    QVERIFY2(second.EndsWithZero(10000), qPrintable(second.Outcome()));
    qInfo("a second start in the same folder: exit code 0 after %lld ms", secondClock.elapsed());
    QVERIFY2(MemoryErrorIn(second.StdErr()).isEmpty(), qPrintable(second.Outcome()));
    const xcb_window_t dialog = m_pDesktop->WindowNamed(kDialogCaption, 10000);
    QVERIFY2(dialog != XCB_NONE, qPrintable(first->Outcome()));
    QVERIFY2(first->Running(), qPrintable(first->Outcome()));
    // Open for editing, the first one's cycle waits for OK.
    QVERIFY(m_pDesktop->Keys(dialog, "Return"));

    // Another folder is another list, and cycles beside it.
    CStarted other(two.Path(), m_pDesktop->Session());
    QVERIFY(other.Started());
    QVERIFY2(capture.RunUntilSeen({"127.0.0.33"}, 10.0), qPrintable(other.Outcome()));
    QVERIFY2(capture.RunUntilSeen({"127.0.0.32"}, 10.0), qPrintable(first->Outcome()));
    QVERIFY2(other.Running(), qPrintable(other.Outcome()));

    // A holder that was killed leaves nothing that stops the next start.
    first->Kill();
    first.reset();
    const int nBefore = capture.To({"127.0.0.32"}).size();
    CStarted next(one.Path(), m_pDesktop->Session());
    QVERIFY(next.Started());
    const double deadline = clock.elapsed() / 1000.0 + 10.0;
    while (capture.To({"127.0.0.32"}).size() == nBefore && clock.elapsed() / 1000.0 < deadline)
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.1);
    QVERIFY2(capture.To({"127.0.0.32"}).size() > nBefore, qPrintable(next.Outcome()));
    QVERIFY2(next.Running(), qPrintable(next.Outcome()));
    // And it takes over the requests of later starts, past the socket the killed one left.
    CStarted later(one.Path(), m_pDesktop->Session());
    QVERIFY(later.Started());
    QVERIFY2(later.EndsWithZero(10000), qPrintable(later.Outcome()));
    QVERIFY2(m_pDesktop->WindowNamed(kDialogCaption, 10000) != XCB_NONE,
             qPrintable(next.Outcome()));
    QVERIFY2(next.EndCleanly(), qPrintable(next.Outcome()));
    QVERIFY2(other.EndCleanly(), qPrintable(other.Outcome()));
}

QTEST_APPLESS_MAIN(CTestDesktopLists)
#include "test_desktop_lists.moc"
