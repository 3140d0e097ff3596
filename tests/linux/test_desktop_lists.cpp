// The real program and its list file on an X11 desktop in the loopback-only namespace: saves
// that a real file system refuses (full, out of inodes, mounted read-only), a list that
// cannot be read, a working directory removed under it, and one instance per list folder and
// user, with another local user trying to hold the list or listen for it. Mounts and other
// users need root, in the private mount namespace the test command gives the suite.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest/QtTest>
#include <cstring>
#include <memory>

#include "harness/desktop.h"
#include "harness/netns.h"
#include "harness/program.h"
#include "harness/wire.h"

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

// A system user of the test's own, gone again with the object.
class CThrowawayUser {
public:
    CThrowawayUser() {
        m_strName =
            QStringLiteral("qvtest%1").arg(QRandomGenerator::global()->bounded(100000, 999999));
        if (!Run("useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                             "--user-group", m_strName}))
            return;
        if (const passwd* entry = ::getpwnam(m_strName.toLatin1().constData())) {
            m_uid = entry->pw_uid;
            m_gid = entry->pw_gid;
        }
    }
    ~CThrowawayUser() {
        if (m_uid != 0) Run("userdel", {m_strName});
    }
    CThrowawayUser(const CThrowawayUser&) = delete;
    CThrowawayUser& operator=(const CThrowawayUser&) = delete;

    bool IsMade() const { return m_uid != 0; }
    uid_t Uid() const { return m_uid; }
    gid_t Gid() const { return m_gid; }
    // The command that runs a program as this user.
    QStringList As() const {
        return {
            "setpriv",       "--reuid", QString::number(m_uid), "--regid", QString::number(m_gid),
            "--clear-groups"};
    }

private:
    QString m_strName;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

// Another local user in a process of its own (forked, then its ids dropped), which takes what
// it can of the names a start of the program uses: it holds a lock on a path, makes a folder,
// listens on a socket path, and counts who connects.
class CNeighbour {
public:
    struct CPlan {
        QByteArray lockPath;    // held with flock, opened read-only as any reader may
        QByteArray folderPath;  // made, open to everybody
        QByteArray socketPath;  // listened on
    };
    CNeighbour(uid_t uid, gid_t gid, const CPlan& plan) {
        int report[2], control[2];
        if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(control, O_CLOEXEC) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(report[0]);
            ::close(control[1]);
            Child(uid, gid, plan, report[1], control[0]);
        }
        ::close(report[1]);
        ::close(control[0]);
        m_fdReport = report[0];
        m_fdControl = control[1];
        // One byte each: the lock, the folder, the socket; 1 when taken.
        char taken[3] = {};
        for (std::size_t got = 0; got < sizeof taken;) {
            const ssize_t n = ::read(m_fdReport, taken + got, sizeof taken - got);
            if (n <= 0) return;
            got += static_cast<std::size_t>(n);
        }
        m_bLocked = taken[0] == 1;
        m_bFolder = taken[1] == 1;
        m_bListening = taken[2] == 1;
    }
    ~CNeighbour() {
        if (m_fdControl >= 0) ::close(m_fdControl);
        if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
        if (m_fdReport >= 0) ::close(m_fdReport);
    }
    CNeighbour(const CNeighbour&) = delete;
    CNeighbour& operator=(const CNeighbour&) = delete;

    bool Locked() const { return m_bLocked; }
    bool MadeFolder() const { return m_bFolder; }
    bool Listening() const { return m_bListening; }
    // How many connections reached it so far.
    int Connections() {
        pollfd p{m_fdReport, POLLIN, 0};
        char buffer[64];
        while (::poll(&p, 1, 0) == 1) {
            const ssize_t n = ::read(m_fdReport, buffer, sizeof buffer);
            if (n <= 0) break;
            m_nConnections += static_cast<int>(n);
        }
        return m_nConnections;
    }

private:
    // Only system calls after the fork: the test process has threads.
    [[noreturn]] static void Child(uid_t uid, gid_t gid, const CPlan& plan, int fdReport,
                                   int fdControl) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) _exit(1);
        char taken[3] = {};
        if (!plan.lockPath.isEmpty()) {
            const int fd = ::open(plan.lockPath.constData(), O_RDONLY | O_CLOEXEC);
            taken[0] = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        }
        if (!plan.folderPath.isEmpty()) {
            taken[1] = ::mkdir(plan.folderPath.constData(), 0777) == 0 &&
                       ::chmod(plan.folderPath.constData(), 0777) == 0;
        }
        int listener = -1;
        if (!plan.socketPath.isEmpty()) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, plan.socketPath.constData(),
                         sizeof address.sun_path - 1);
            listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            taken[2] =
                listener >= 0 &&
                ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::chmod(plan.socketPath.constData(), 0777) == 0 && ::listen(listener, 8) == 0;
        }
        if (::write(fdReport, taken, sizeof taken) != sizeof taken) _exit(1);
        // Until the test closes its end: every connection counted and hung up, as the real
        // holder does, so the one who connected believes it was heard.
        for (;;) {
            pollfd p[2] = {{fdControl, POLLIN, 0}, {listener, POLLIN, 0}};
            if (::poll(p, taken[2] ? 2 : 1, -1) < 0) continue;
            if (p[0].revents != 0) break;
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                ::close(client);
                if (::write(fdReport, "c", 1) != 1) break;
            }
        }
        if (!plan.socketPath.isEmpty()) ::unlink(plan.socketPath.constData());
        if (!plan.folderPath.isEmpty()) ::rmdir(plan.folderPath.constData());
        _exit(0);
    }

    pid_t m_pid = -1;
    int m_fdReport = -1;
    int m_fdControl = -1;
    bool m_bLocked = false;
    bool m_bFolder = false;
    bool m_bListening = false;
    int m_nConnections = 0;
};

// The user's home, open to read as homes often are, with a list's folder in it, and the
// runtime directory a session makes for the user.
class CUserList {
public:
    explicit CUserList(const CThrowawayUser& user) {
        m_strHome = m_base.path() + "/home";
        m_strFolder = m_strHome + "/list";
        m_strRuntime = m_base.path() + "/run";
        m_bMade = ::chmod(QFile::encodeName(m_base.path()).constData(), 0755) == 0;
        for (const QString& dir : {m_strHome, m_strFolder, m_strRuntime}) {
            const QByteArray path = QFile::encodeName(dir);
            m_bMade = m_bMade && QDir().mkpath(dir) &&
                      ::chown(path.constData(), user.Uid(), user.Gid()) == 0 &&
                      ::chmod(path.constData(), dir == m_strRuntime ? 0700 : 0755) == 0;
        }
        QFile file(m_strFolder + "/Quorvane.Lst");
        m_bMade = m_bMade && file.open(QIODevice::WriteOnly) &&
                  file.write("3\r\n0\r\n0\r\n127.0.0.34\r\n") > 0 && file.flush() &&
                  ::fchown(file.handle(), user.Uid(), user.Gid()) == 0;
    }
    bool IsMade() const { return m_bMade; }
    // The folders, and the path the program keys its list by.
    QString m_strHome, m_strFolder, m_strRuntime;
    QString CanonicalList() const {
        return QFileInfo(m_strFolder).canonicalFilePath() + "/Quorvane.Lst";
    }

private:
    QTemporaryDir m_base;
    bool m_bMade = false;
};

// Where a start of the program by uid listened before its names became private: beside the
// list's folder, in the shared /tmp.
QByteArray SharedSocketPath(uid_t uid, const QString& folder) {
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(folder), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    return "/tmp/quorvane-" + QByteArray::number(uid) + "-" + hash;
}

// The name a start gives its lock and its socket in its private folder.
QByteArray PrivateKey(const QString& list) {
    return QCryptographicHash::hash(QFile::encodeName(list), QCryptographicHash::Sha256)
        .toHex()
        .left(32);
}

// Seconds on a clock, for the figures the tests print.
double Seconds(const QElapsedTimer& clock) { return clock.elapsed() / 1000.0; }

}  // namespace

class CTestDesktopLists : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void FailedSaveGoesOn_data();
    void FailedSaveGoesOn();
    void UnreadableListSaysSo();
    void OneInstancePerFolder();
    void NeighbourCannotHoldOrHear_data();
    void NeighbourCannotHoldOrHear();
    void PeerOfAnotherUser();
    void GoneWorkingDirectory();
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

    CProgram program(CInFolder{folder.Path()}, m_pDesktop->Session());
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
    CProgram program(CInFolder{folder.Path()}, m_pDesktop->Session(),
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

    auto first = std::make_unique<CProgram>(CInFolder{one.Path()}, m_pDesktop->Session());
    QVERIFY(first->Started());
    QVERIFY2(m_pDesktop->TrayIcon(10000) != XCB_NONE, qPrintable(first->Outcome()));
    // A second start in the same folder opens the first one's dialog and ends, whatever
    // temporary directory it was given.
    QTemporaryDir otherTemp;
    QElapsedTimer secondClock;
    secondClock.start();
    CProgram second(CInFolder{one.Path()}, m_pDesktop->Session() << "TMPDIR=" + otherTemp.path());
    QVERIFY(second.Started());
    QVERIFY2(second.EndsWithZero(10000), qPrintable(second.Outcome()));
    qInfo("a second start in the same folder: exit code 0 after %lld ms", secondClock.elapsed());
    QVERIFY2(MemoryErrorIn(second.StdErr()).isEmpty(), qPrintable(second.Outcome()));
    const xcb_window_t dialog = m_pDesktop->WindowNamed(kDialogCaption, 10000);
    QVERIFY2(dialog != XCB_NONE, qPrintable(first->Outcome()));
    QVERIFY2(first->Running(), qPrintable(first->Outcome()));
    // Open for editing, the first one's cycle waits for OK.
    QVERIFY(m_pDesktop->Keys(dialog, "Return"));

    // A holder that cannot answer (stopped): a later start says so and fails, so a service
    // manager or a script can tell.
    first->Signal(SIGSTOP);
    QElapsedTimer unansweredClock;
    unansweredClock.start();
    CProgram unanswered(CInFolder{one.Path()}, m_pDesktop->Session());
    QVERIFY(unanswered.Started());
    const bool bEnded = unanswered.Ends(20000);
    qInfo("a start while the holder is stopped: %s, exit code %d after %lld ms",
          bEnded ? "ended" : "still runs", unanswered.ExitCode(), unansweredClock.elapsed());
    first->Signal(SIGCONT);
    QVERIFY2(bEnded && unanswered.ExitCode() != 0, qPrintable(unanswered.Outcome()));
    QVERIFY2(unanswered.StdErr().contains("does not answer"), qPrintable(unanswered.Outcome()));
    // Woken, the holder takes the request that waited, and shows its dialog.
    const xcb_window_t late = m_pDesktop->WindowNamed(kDialogCaption, 10000);
    QVERIFY2(late != XCB_NONE, qPrintable(first->Outcome()));
    QVERIFY(m_pDesktop->Keys(late, "Return"));

    // Another folder is another list, and cycles beside it.
    CProgram other(CInFolder{two.Path()}, m_pDesktop->Session());
    QVERIFY(other.Started());
    QVERIFY2(capture.RunUntilSeen({"127.0.0.33"}, 10.0), qPrintable(other.Outcome()));
    QVERIFY2(capture.RunUntilSeen({"127.0.0.32"}, 10.0), qPrintable(first->Outcome()));
    QVERIFY2(other.Running(), qPrintable(other.Outcome()));

    // A holder that was killed leaves nothing that stops the next start.
    first->Kill();
    first.reset();
    const int nBefore = capture.To({"127.0.0.32"}).size();
    CProgram next(CInFolder{one.Path()}, m_pDesktop->Session());
    QVERIFY(next.Started());
    const double deadline = clock.elapsed() / 1000.0 + 10.0;
    while (capture.To({"127.0.0.32"}).size() == nBefore && clock.elapsed() / 1000.0 < deadline)
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.1);
    QVERIFY2(capture.To({"127.0.0.32"}).size() > nBefore, qPrintable(next.Outcome()));
    QVERIFY2(next.Running(), qPrintable(next.Outcome()));
    // And it takes over the requests of later starts, past the socket the killed one left.
    CProgram later(CInFolder{one.Path()}, m_pDesktop->Session());
    QVERIFY(later.Started());
    QVERIFY2(later.EndsWithZero(10000), qPrintable(later.Outcome()));
    QVERIFY2(m_pDesktop->WindowNamed(kDialogCaption, 10000) != XCB_NONE,
             qPrintable(next.Outcome()));
    QVERIFY2(next.EndCleanly(), qPrintable(next.Outcome()));
    QVERIFY2(other.EndCleanly(), qPrintable(other.Outcome()));
}

void CTestDesktopLists::NeighbourCannotHoldOrHear_data() {
    QTest::addColumn<QString>("strAttack");
    // What another user could do to the names starts once met at: the lock on the list's
    // folder, opened read-only, and a socket with a predictable name in the shared /tmp.
    QTest::newRow("holds the folder's lock") << "lock";
    QTest::newRow("holds the lock and listens in /tmp") << "lock+socket";
    QTest::newRow("listens in /tmp") << "socket";
    // With no runtime directory the private folder's name in /tmp is predictable too: taken
    // first, it is refused, and the program runs without it.
    QTest::newRow("makes the private folder first") << "folder";
}

void CTestDesktopLists::NeighbourCannotHoldOrHear() {
    QFETCH(QString, strAttack);
    if (geteuid() != 0) QSKIP("another local user needs root");
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QElapsedTimer clock;  // as the capture's
    clock.start();
    CThrowawayUser user;
    QVERIFY2(user.IsMade(), "useradd failed");
    constexpr uid_t kNobody = 65534;

    CUserList place(user);
    QVERIFY(place.IsMade());
    const QString& folder = place.m_strFolder;
    const QString& runtime = place.m_strRuntime;
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QByteArray tmpFolder = "/tmp/quorvane-" + QByteArray::number(user.Uid());

    CNeighbour::CPlan plan;
    if (strAttack.startsWith("lock")) plan.lockPath = QFile::encodeName(canonicalFolder);
    if (strAttack.endsWith("socket"))
        plan.socketPath = SharedSocketPath(user.Uid(), canonicalFolder);
    if (strAttack == "folder") {
        plan.folderPath = tmpFolder;
        plan.socketPath = tmpFolder + "/" + PrivateKey(place.CanonicalList()) + ".sock";
    }
    QStringList session = m_pDesktop->Session();
    // Without a runtime directory the toolkit makes one of its own in TMPDIR: the user's home.
    session << "HOME=" + place.m_strHome << "TMPDIR=" + place.m_strHome
            << "XDG_RUNTIME_DIR=" + (strAttack == "folder" ? QString() : runtime);
    {
        CNeighbour neighbour(kNobody, kNobody, plan);
        QVERIFY(neighbour.Locked() == !plan.lockPath.isEmpty());
        QVERIFY(neighbour.MadeFolder() == !plan.folderPath.isEmpty());
        QVERIFY(neighbour.Listening() == !plan.socketPath.isEmpty());

        // The user's start runs its list: its first request goes out.
        const double startedAt = Seconds(clock);
        CProgram first(CInFolder{folder}, session, user.As());
        QVERIFY(first.Started());
        bool bEnded = false;
        while (!bEnded && capture.To({"127.0.0.34"}).isEmpty() &&
               Seconds(clock) < startedAt + 10.0) {
            capture.RunUntil(Seconds(clock) + 0.1);
            bEnded = first.Ends(0);
        }
        const bool bProbes = !capture.To({"127.0.0.34"}).isEmpty();
        qInfo("%s: the start %s after %.2f s (exit code %d)", qPrintable(strAttack),
              bEnded ? "ended" : "runs", Seconds(clock) - startedAt, first.ExitCode());
        QVERIFY2(bProbes && first.Running(), qPrintable(first.Outcome()));
        if (strAttack == "folder") {
            QVERIFY2(first.StdErr().contains(tmpFolder + " belongs to another user"),
                     qPrintable(first.Outcome()));
        } else {
            QVERIFY2(!first.StdErr().contains("cannot reach"), qPrintable(first.Outcome()));
        }

        // A second start of the user's reaches the first, never the neighbour; with the
        // private folder taken there is nothing to meet at, and it runs beside the first.
        const double secondAt = Seconds(clock);
        CProgram second(CInFolder{folder}, session, user.As());
        QVERIFY(second.Started());
        if (strAttack == "folder") {
            QVERIFY2(!second.Ends(3000), qPrintable(second.Outcome()));
        } else {
            QVERIFY2(second.EndsWithZero(10000), qPrintable(second.Outcome()));
            qInfo("%s: a second start ended with 0 after %.2f s", qPrintable(strAttack),
                  Seconds(clock) - secondAt);
            const xcb_window_t dialog = m_pDesktop->WindowNamed(kDialogCaption, 10000);
            QVERIFY2(dialog != XCB_NONE, qPrintable(first.Outcome()));
            QVERIFY(m_pDesktop->Keys(dialog, "Return"));
        }
        QCOMPARE(neighbour.Connections(), 0);
        QVERIFY2(first.EndCleanly(), qPrintable(first.Outcome()));
        if (second.Running()) QVERIFY2(second.EndCleanly(), qPrintable(second.Outcome()));
    }
    // What the user's starts made in /tmp, when they had no runtime directory.
    QDir(QFile::decodeName(tmpFolder)).removeRecursively();
}

void CTestDesktopLists::PeerOfAnotherUser() {
    // Only root reaches into a user's private folder; both ends still ask who is at the other.
    if (geteuid() != 0) QSKIP("another local user needs root");
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CThrowawayUser user;
    QVERIFY2(user.IsMade(), "useradd failed");
    CUserList place(user);
    QVERIFY(place.IsMade());
    QStringList session = m_pDesktop->Session();
    session << "HOME=" + place.m_strHome << "XDG_RUNTIME_DIR=" + place.m_strRuntime;
    const QByteArray names =
        QFile::encodeName(place.m_strRuntime) + "/quorvane/" + PrivateKey(place.CanonicalList());

    // The holder hangs up on root's request and shows nothing.
    {
        CProgram holder(CInFolder{place.m_strFolder}, session, user.As());
        QVERIFY(holder.Started());
        QVERIFY2(capture.RunUntilSeen({"127.0.0.34"}, 10.0), qPrintable(holder.Outcome()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = names + ".sock";
        QVERIFY(path.size() < static_cast<qsizetype>(sizeof address.sun_path));
        std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        QVERIFY2(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0,
                 std::strerror(errno));
        pollfd hangUp{fd, POLLIN, 0};
        QVERIFY(::poll(&hangUp, 1, 5000) == 1);
        ::close(fd);
        QVERIFY2(m_pDesktop->WindowNamed(kDialogCaption, 3000) == XCB_NONE,
                 qPrintable(holder.Outcome()));
        QVERIFY2(holder.EndCleanly(), qPrintable(holder.Outcome()));
    }
    // A "holder" of another user: the start does not take its hang-up for an answer.
    CNeighbour::CPlan plan;
    plan.lockPath = names + ".lock";
    plan.socketPath = names + ".sock";
    CNeighbour root(0, 0, plan);
    QVERIFY(root.Locked() && root.Listening());
    CProgram start(CInFolder{place.m_strFolder}, session, user.As());
    QVERIFY(start.Started());
    QVERIFY2(start.Ends(10000) && start.ExitCode() != 0, qPrintable(start.Outcome()));
    QVERIFY2(start.StdErr().contains("belongs to user 0"), qPrintable(start.Outcome()));
}

void CTestDesktopLists::GoneWorkingDirectory() {
    if (geteuid() != 0) QSKIP("running the program as another user needs root");
    CThrowawayUser user;
    QVERIFY2(user.IsMade(), "useradd failed");
    QTemporaryDir base;
    QVERIFY(::chmod(QFile::encodeName(base.path()).constData(), 0755) == 0);
    const QString home = base.path() + "/home";
    const QString folder = home + "/list";
    for (const QString& dir : {home, folder}) {
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(::chown(QFile::encodeName(dir).constData(), user.Uid(), user.Gid()) == 0);
    }
    const bool bRootHadList = QFileInfo::exists("/Quorvane.Lst");
    QStringList session = m_pDesktop->Session();
    // Without a runtime directory the toolkit makes one of its own in TMPDIR: the user's home.
    session << "HOME=" + home << "TMPDIR=" + home << "XDG_RUNTIME_DIR=";

    // Removed before the start: said in a box and on stderr, and the program runs without a
    // list, its icon there.
    QStringList wrapper = user.As();
    wrapper << "sh"
            << "-c"
            << "rmdir '" + folder + "' && exec \"$0\"";
    {
        CProgram program(CInFolder{folder}, session, wrapper);
        QVERIFY(program.Started());
        const xcb_window_t box = m_pDesktop->WindowNamed(kBoxCaption, 15000);
        QVERIFY2(box != XCB_NONE, qPrintable(program.Outcome()));
        QVERIFY(m_pDesktop->Keys(box, "Return"));
        QVERIFY2(m_pDesktop->TrayIcon(10000) != XCB_NONE, qPrintable(program.Outcome()));
        QVERIFY2(program.StdErr().contains(QFile::encodeName(folder) + " no longer exists"),
                 qPrintable(program.Outcome()));
        // OK has nowhere to save: it says so, and the program goes on.
        xcb_window_t dialog = m_pDesktop->OpenDialog();
        QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
        QVERIFY(m_pDesktop->Keys(dialog, "3"));
        QVERIFY(m_pDesktop->Xdotool({"key", "Return"}));
        const xcb_window_t failed = m_pDesktop->WindowNamed(kBoxCaption, 10000);
        QVERIFY2(failed != XCB_NONE, qPrintable(program.Outcome()));
        QVERIFY(m_pDesktop->Keys(failed, "Return"));
        QVERIFY2(program.Running(), qPrintable(program.Outcome()));
        QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    }
    QVERIFY(!QFileInfo::exists(folder));
    QCOMPARE(QFileInfo::exists("/Quorvane.Lst"), bRootHadList);
}

QTEST_APPLESS_MAIN(CTestDesktopLists)
#include "test_desktop_lists.moc"
