// The list file as the dialog loads and saves it over the real file system, for what only it
// shows: long working directories, one removed under the program, links, modes, owners. Every fault
// is the logic tests' (test_settings), over the recording platform.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <cerrno>
#include <memory>
#include <vector>

#include "framework/linux/qtbackend.h"
#include "logic/keepalivedlg.h"
#include "platform/linux/qticontheme.h"
#include "platform/linux/qtplatform.h"
#include "res/resource.h"

namespace {

// What SaveFromDirectory writes.
const QByteArray kSaved = "17\r\n0\r\n0\r\n127.0.0.1\r\n";

QByteArray Local(const QString& path) { return path.toLocal8Bit(); }

QByteArray LinkText(const QString& path) {
    std::vector<char> buffer(4096);
    const ssize_t size = ::readlink(Local(path).constData(), buffer.data(), buffer.size());
    return size < 0 ? QByteArray() : QByteArray(buffer.data(), static_cast<int>(size));
}

// Everything under dir, links as themselves, as paths from dir.
QStringList Entries(const QString& dir) {
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) entries << QDir(dir).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// Saves one server and a delay of 17 as OK does, over the real file system, from dir as the
// working directory.
bool SaveFromDirectory(const QString& dir) {
    const QString previous = QDir::currentPath();
    if (::chdir(Local(dir).constData()) != 0) return false;
    CQtPlatform platform;
    CIcmpLibrary icmp;
    {
        CKeepAliveDlg dlg(platform, icmp);
        if (!dlg.Create()) return false;
        dlg.m_lbServers.AddString("127.0.0.1");
        dlg.GetDlgItem(IDC_DELAY)->SetWindowText("17");
        dlg.SendMessage(WM_COMMAND, IDOK);
        dlg.DestroyWindow();
    }
    return ::chdir(Local(previous).constData()) == 0;
}

// The real platform, its boxes kept instead of shown.
class CBoxedPlatform : public CQtPlatform {
public:
    int MessageBox(CWnd* /*owner*/, const CString& text, const CString& /*caption*/,
                   UINT /*type*/) override {
        m_boxes << QString::fromStdString(text);
        return IDOK;
    }
    QStringList m_boxes;
};

// Makes dir the working directory for the life of the object, whatever becomes of it.
class CInDirectory {
public:
    explicit CInDirectory(const QString& dir)
        : m_fdPrevious(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        m_bIn = m_fdPrevious >= 0 && ::chdir(Local(dir).constData()) == 0;
    }
    ~CInDirectory() {
        if (m_fdPrevious < 0) return;
        if (m_bIn && ::fchdir(m_fdPrevious) != 0) qWarning("cannot go back to the directory");
        ::close(m_fdPrevious);
    }
    CInDirectory(const CInDirectory&) = delete;
    CInDirectory& operator=(const CInDirectory&) = delete;
    bool IsIn() const { return m_bIn; }

private:
    int m_fdPrevious;
    bool m_bIn = false;
};

// Sets the process's umask for the life of the object.
class CUmask {
public:
    explicit CUmask(mode_t mask) : m_old(::umask(mask)) {}
    ~CUmask() { ::umask(m_old); }
    CUmask(const CUmask&) = delete;
    CUmask& operator=(const CUmask&) = delete;

private:
    mode_t m_old;
};

}  // namespace

class CTestFiles : public QObject {
    Q_OBJECT

private slots:
    void RealFileSystem();
    void GoneWorkingDirectory_data();
    void GoneWorkingDirectory();
    void RealSaveThroughLinks_data();
    void RealSaveThroughLinks();
    void RealSaveKeepsModeAndOwner_data();
    void RealSaveKeepsModeAndOwner();
    void RealLinkChainBound();
    void IconThemeInRuntimeDirectory();

private:
    CIcmpLibrary m_icmp;
};

void CTestFiles::RealFileSystem() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // Deeper than any fixed path buffer of 260 characters.
    QString deep = tmp.path();
    while (deep.size() < 400) deep += "/subdirectory_of_some_length";
    QVERIFY(QDir().mkpath(deep));
    const QString previous = QDir::currentPath();
    QVERIFY(::chdir(deep.toLocal8Bit().constData()) == 0);

    CQtPlatform platform;
    QCOMPARE(QString::fromStdString(platform.GetCurrentDirectory()), deep);
    {
        CKeepAliveDlg dlg(platform, m_icmp);
        QVERIFY(dlg.Create());
        dlg.m_lbServers.AddString("127.0.0.1");
        dlg.GetDlgItem(IDC_DELAY)->SetWindowText("17");
        dlg.SendMessage(WM_COMMAND, IDOK);
        dlg.DestroyWindow();
    }
    QFile file(deep + "/Quorvane.Lst");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("17\r\n0\r\n0\r\n127.0.0.1\r\n"));
    QCOMPARE(QDir(deep).entryList(QDir::Files), QStringList{"Quorvane.Lst"});
    {
        CKeepAliveDlg dlg(platform, m_icmp);
        QVERIFY(dlg.Create());
        QCOMPARE(dlg.m_nDelay, 17);
        QCOMPARE(dlg.m_lbServers.GetCount(), 1);
        dlg.DestroyWindow();
    }
    QVERIFY(::chdir(previous.toLocal8Bit().constData()) == 0);
}

void CTestFiles::GoneWorkingDirectory_data() {
    QTest::addColumn<QString>("strWhen");
    QTest::newRow("removed before the start") << "start";
    QTest::newRow("removed before OK") << "ok";
    // Another folder under the same name: the list was not kept there, nor goes there.
    QTest::newRow("replaced before OK") << "replaced";
}

void CTestFiles::GoneWorkingDirectory() {
    QFETCH(QString, strWhen);
    // The root directory stays as it was: once, a folder that was gone made the path
    // "/Quorvane.Lst", which root could write.
    const bool bRootHadList = QFileInfo::exists("/Quorvane.Lst");
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString dir = tmp.path() + "/gone";
    QVERIFY(QDir().mkpath(dir));
    QStringList boxes;
    CString startDirectory;
    {
        CInDirectory in(dir);
        QVERIFY(in.IsIn());
        if (strWhen == "start") QVERIFY(::rmdir(Local(dir).constData()) == 0);
        CBoxedPlatform platform;
        startDirectory = platform.GetCurrentDirectory();
        CKeepAliveDlg dlg(platform, m_icmp);
        QVERIFY(dlg.Create());
        // Nothing to load, quietly (the start says why, once).
        QCOMPARE(platform.m_boxes, QStringList());
        QCOMPARE(dlg.m_lbServers.GetCount(), 0);
        if (strWhen != "start") QVERIFY(::rmdir(Local(dir).constData()) == 0);
        if (strWhen == "replaced") QVERIFY(QDir().mkpath(dir));
        dlg.m_lbServers.AddString("127.0.0.1");
        dlg.GetDlgItem(IDC_DELAY)->SetWindowText("17");
        dlg.SendMessage(WM_COMMAND, IDOK);
        dlg.DestroyWindow();
        boxes = platform.m_boxes;
    }
    const bool bRootHasList = QFileInfo::exists("/Quorvane.Lst");
    if (bRootHasList && !bRootHadList) QFile::remove("/Quorvane.Lst");
    QCOMPARE(bRootHasList, bRootHadList);
    // The box names the list where the user had it.
    QCOMPARE(boxes, QStringList{dir + "/Quorvane.Lst was not found."});
    QCOMPARE(QString::fromStdString(startDirectory), dir);
    QCOMPARE(Entries(tmp.path()), strWhen == "replaced" ? QStringList{"gone"} : QStringList());
}

void CTestFiles::RealSaveThroughLinks_data() {
    // "link>text", the link's path from the temporary directory; @ in the text stands for it.
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("exists");
    QTest::newRow("absolute") << QStringList{"work/Quorvane.Lst>@/store/list.txt"}
                              << "store/list.txt" << true;
    QTest::newRow("relative") << QStringList{"work/Quorvane.Lst>../store/list.txt"}
                              << "store/list.txt" << true;
    // The second link is relative to its own directory, not to the working one.
    QTest::newRow("chain") << QStringList{"work/Quorvane.Lst>../store/hop",
                                          "store/hop>sub/list.txt"}
                           << "store/sub/list.txt" << true;
    QTest::newRow("dangling") << QStringList{"work/Quorvane.Lst>@/store/new.txt"} << "store/new.txt"
                              << false;
}

void CTestFiles::RealSaveThroughLinks() {
    QFETCH(QStringList, links);
    QFETCH(QString, target);
    QFETCH(bool, exists);
    const CUmask umask(027);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path();
    QVERIFY(QDir(root).mkpath("work") && QDir(root).mkpath("store/sub"));
    QStringList expected{"store", "store/sub", "work", target};
    for (const QString& link : links) {
        const QStringList parts = link.split('>');
        const QByteArray text = Local(QString(parts[1]).replace("@", root));
        QVERIFY(::symlink(text.constData(), Local(root + "/" + parts[0]).constData()) == 0);
        expected << parts[0];
    }
    const QString targetPath = root + "/" + target;
    if (exists) {
        QFile file(targetPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("5\r\n0\r\n0\r\n");
        file.close();
        QVERIFY(::chmod(Local(targetPath).constData(), 0664) == 0);
    }

    QVERIFY(SaveFromDirectory(root + "/work"));

    // Every link stays as it was, the target has the text, and no temporary file is left.
    for (const QString& link : links) {
        const QStringList parts = link.split('>');
        QCOMPARE(LinkText(root + "/" + parts[0]), Local(QString(parts[1]).replace("@", root)));
    }
    QFile file(targetPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kSaved);
    expected.sort();
    QCOMPARE(Entries(root), expected);
    struct stat st {};
    QVERIFY(::stat(Local(targetPath).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, exists ? 0664u : 0640u);
}

void CTestFiles::RealSaveKeepsModeAndOwner_data() {
    QTest::addColumn<int>("mode");  // of the file before the save; -1: no file
    QTest::addColumn<bool>("owner");
    QTest::newRow("0664") << 0664 << false;
    QTest::newRow("0600") << 0600 << false;
    QTest::newRow("new file, umask 027") << -1 << false;
    QTest::newRow("another owner") << 0664 << true;
}

void CTestFiles::RealSaveKeepsModeAndOwner() {
    QFETCH(int, mode);
    QFETCH(bool, owner);
    constexpr uid_t kOtherId = 12345;
    const CUmask umask(027);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QByteArray path = Local(tmp.path() + "/Quorvane.Lst");
    if (mode >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("5\r\n0\r\n0\r\n");
        file.close();
        QVERIFY(::chmod(path.constData(), static_cast<mode_t>(mode)) == 0);
    }
    if (owner && (::geteuid() != 0 || ::chown(path.constData(), kOtherId, kOtherId) != 0))
        QSKIP("only root can give the file to another user");

    QVERIFY(SaveFromDirectory(tmp.path()));

    struct stat st {};
    QVERIFY(::stat(path.constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode >= 0 ? static_cast<mode_t>(mode) : 0640u);
    QCOMPARE(st.st_uid, owner ? kOtherId : ::geteuid());
    QCOMPARE(st.st_gid, owner ? gid_t(kOtherId) : ::getegid());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kSaved);
}

void CTestFiles::RealLinkChainBound() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path();
    CQtPlatform platform;
    CString target;
    // A loop ends in an error, never in a hang.
    QVERIFY(::symlink("b", Local(root + "/a").constData()) == 0);
    QVERIFY(::symlink("a", Local(root + "/b").constData()) == 0);
    QCOMPARE(platform.ResolveSavePath(Local(root + "/a").toStdString(), target), ELOOP);
    // 40 links are as many as the kernel follows in a path: the end is still found.
    for (int i = 0; i < 40; ++i) {
        const QByteArray next = "l" + QByteArray::number(i + 1);
        const QString link = root + "/l" + QString::number(i);
        QVERIFY(::symlink(next.constData(), Local(link).constData()) == 0);
    }
    QCOMPARE(platform.ResolveSavePath(Local(root + "/l0").toStdString(), target), 0);
    QCOMPARE(QString::fromStdString(target), root + "/l40");
}

// The tray pictures as a theme for hosts that look them up by name: each at every size of
// the theme's index as drawn, written again only when it differs; and where the runtime
// directory cannot take it, no theme (the pixels alone).
void CTestFiles::IconThemeInRuntimeDirectory() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", Local(runtime.path()));
    const QString root = ExportIconTheme(QStringLiteral("Quorvane"));
    QCOMPARE(root, runtime.path() + "/quorvane-icons");
    QSettings index(root + "/hicolor/index.theme", QSettings::IniFormat);
    const QStringList folders = index.value("Icon Theme/Directories").toStringList();
    QVERIFY(folders.contains("22x22@2/status") && folders.contains("24x24/status"));
    QCOMPARE(IconThemeName("Quorvane", IDI_PINGING), QString("quorvane-129"));
    for (const QString& folder : folders) {
        const int size =
            index.value(folder + "/Size").toInt() * index.value(folder + "/Scale").toInt();
        for (UINT id : {IDI_MAIN, IDI_PINGING, IDI_IDLE}) {
            const QImage written(root + "/hicolor/" + folder + "/" + IconThemeName("Quorvane", id) +
                                 ".png");
            const QImage drawn = QtIconOf(id).pixmap(QSize(size, size), 1.0).toImage();
            QVERIFY2(!written.isNull() && written.convertToFormat(QImage::Format_ARGB32) ==
                                              drawn.convertToFormat(QImage::Format_ARGB32),
                     qPrintable(folder));
        }
    }
    // A second instance leaves the files as they are.
    const QString picture = root + "/hicolor/16x16/status/quorvane-128.png";
    const QDateTime written = QFileInfo(picture).lastModified();
    QTest::qSleep(20);
    QCOMPARE(ExportIconTheme(QStringLiteral("Quorvane")), root);
    QCOMPARE(QFileInfo(picture).lastModified(), written);

    // A file where the theme's folder would be: no theme, and the file stays.
    QTemporaryDir blocked;
    QVERIFY(blocked.isValid());
    QFile in(blocked.path() + "/quorvane-icons");
    QVERIFY(in.open(QIODevice::WriteOnly) && in.write("mine") == 4);
    in.close();
    qputenv("XDG_RUNTIME_DIR", Local(blocked.path()));
    QCOMPARE(ExportIconTheme(QStringLiteral("Quorvane")), QString());
    QVERIFY(in.open(QIODevice::ReadOnly) && in.readAll() == "mine");
    if (old.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", old);
}

QTEST_MAIN(CTestFiles)
#include "test_files.moc"
