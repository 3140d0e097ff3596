// The list file as the dialog loads and saves it: over the recording platform for every
// fault, and over the real file system for what only it shows: links, modes, owners.

#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <cerrno>
#include <memory>
#include <vector>

#include "fakeplatform.h"
#include "keepalivedlg.h"
#include "qt/qtplatform.h"
#include "resource.h"

namespace {

const CString kListPath = "/home/user/Quorvane.Lst";
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

class CTestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void NothingToLoad_data();
    void NothingToLoad();
    void LoadStartsTheCycle();
    void LoadedDelayIsClamped_data();
    void LoadedDelayIsClamped();
    void ReadErrorLoadsNothing();
    void ManyServersLoadSorted();
    void SaveWritesTheFile();
    void SaveFailureKeepsOldFile_data();
    void SaveFailureKeepsOldFile();
    void SaveWithoutTempFileIsQuiet();
    void SaveThroughLink();
    void SaveThroughLinkLoop();
    void LongWorkingDirectory();
    void RealFileSystem();
    void RealSaveThroughLinks_data();
    void RealSaveThroughLinks();
    void RealSaveKeepsModeAndOwner_data();
    void RealSaveKeepsModeAndOwner();
    void RealLinkChainBound();

private:
    // Creates the dialog, which loads the list file as it initialises.
    void Create();
    void PressOk(const char* delay = "20");

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestSettings::init() { m_platform = std::make_unique<CFakePlatform>(); }

void CTestSettings::cleanup() {
    m_dlg.reset();
    QCOMPARE(m_platform->m_nFilesOpen, 0);
    QCOMPARE(m_platform->m_nLiveIcons, 0);
    m_platform.reset();
}

void CTestSettings::Create() {
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    QVERIFY(m_dlg->Create());
}

void CTestSettings::PressOk(const char* delay) {
    m_dlg->ShowWindow(SW_SHOW);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(delay);
    m_platform->m_trayCalls.clear();
    m_dlg->SendMessage(WM_COMMAND, IDOK);
}

void CTestSettings::NothingToLoad_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no file") << false << QByteArray();
    QTest::newRow("empty") << true << QByteArray();
    QTest::newRow("one byte") << true << QByteArray("7");
}

void CTestSettings::NothingToLoad() {
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    if (exists) m_platform->m_files[kListPath] = content.toStdString();
    Create();
    QCOMPARE(m_dlg->m_strListPath, kListPath);
    QCOMPARE(m_dlg->m_nDelay, 0);
    QCOMPARE(m_dlg->m_bSound, TRUE);
    QVERIFY(!m_dlg->m_bCycling);
    QVERIFY(m_platform->m_timers.empty());
    // Only the idle icon of creation.
    QCOMPARE(m_platform->m_trayCalls.size(), std::size_t(1));
    QVERIFY(m_platform->m_boxes.empty());
}

void CTestSettings::LoadStartsTheCycle() {
    m_platform->m_files[kListPath] = "45\r\n1\r\n0\r\n10.0.0.2\r\n10.0.0.1\r\n";
    Create();
    QCOMPARE(m_dlg->m_nDelay, 45);
    QCOMPARE(m_dlg->m_bCycleOnNoContact, TRUE);
    QCOMPARE(m_dlg->m_bSound, FALSE);
    QCOMPARE(m_dlg->m_lbServers.GetCount(), 2);
    CString first;
    m_dlg->m_lbServers.GetText(0, first);
    QCOMPARE(first, CString("10.0.0.1"));
    // The controls show what was loaded.
    QCOMPARE(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText(), CString("45"));
    QCOMPARE(m_dlg->GetItemCheck(IDC_CYCLE), 1);
    // The cycle waits for its first tick, which wraps to entry 0.
    QVERIFY(m_dlg->m_bCycling);
    QCOMPARE(m_dlg->m_nCurrent, 2);
    QCOMPARE(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER), 45000u);
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_MAIN));
    QCOMPARE(m_platform->m_trayCalls.back().dwMessage, NIM_MODIFY);
}

void CTestSettings::LoadedDelayIsClamped_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("delay");
    QTest::newRow("zero") << QByteArray("0\r\n0\r\n0\r\n") << 3;
    QTest::newRow("negative") << QByteArray("-20\r\n") << 3;
    QTest::newRow("huge") << QByteArray("4294968\r\n") << 3600;
    QTest::newRow("letters keep 0, clamped") << QByteArray("abc\r\n") << 3;
    QTest::newRow("in range") << QByteArray("3600\r\n") << 3600;
}

void CTestSettings::LoadedDelayIsClamped() {
    QFETCH(QByteArray, content);
    QFETCH(int, delay);
    m_platform->m_files[kListPath] = content.toStdString();
    Create();
    QCOMPARE(m_dlg->m_nDelay, delay);
    QCOMPARE(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER), UINT(delay) * 1000u);
}

void CTestSettings::ReadErrorLoadsNothing() {
    m_platform->m_files[kListPath] = "45\r\n1\r\n1\r\n10.0.0.1\r\n";
    m_platform->m_nReadError = 5;  // EIO
    Create();
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    const auto& box = m_platform->m_boxes[0];
    QCOMPARE(box.strText,
             CString("A hardware I/O error was reported while accessing " + kListPath + "."));
    QCOMPARE(box.strCaption, CString("quorvane"));
    QCOMPARE(box.nType, UINT(MB_OK | MB_ICONHAND));
    QCOMPARE(m_dlg->m_nDelay, 0);
    QCOMPARE(m_dlg->m_lbServers.GetCount(), 0);
    QVERIFY(!m_dlg->m_bCycling);
    QVERIFY(m_platform->m_timers.empty());
}

void CTestSettings::ManyServersLoadSorted() {
    CString content = "10\r\n0\r\n0\r\n";
    for (int i = 9999; i >= 0; --i)
        content += "10." + std::to_string(i / 256) + ".0." + std::to_string(i % 256) + "\r\n";
    m_platform->m_files[kListPath] = content;
    Create();
    QCOMPARE(m_dlg->m_lbServers.GetCount(), 10000);
    CString previous, entry;
    for (int i = 0; i < 10000; ++i) {
        m_dlg->m_lbServers.GetText(i, entry);
        QVERIFY(i == 0 || CompareNoCase(previous, entry) <= 0);
        previous = entry;
    }
}

void CTestSettings::SaveWritesTheFile() {
    Create();
    m_dlg->m_lbServers.AddString("10.0.0.2");
    m_dlg->m_lbServers.AddString("10.0.0.1");
    m_dlg->SetItemCheck(IDC_SOUND, 1);
    m_dlg->SetItemCheck(IDC_CYCLE, 0);
    PressOk("30");
    QCOMPARE(m_platform->m_files[kListPath],
             std::string("30\r\n0\r\n1\r\n10.0.0.1\r\n10.0.0.2\r\n"));
    // Only the list file is left: the temporary one took its place.
    QCOMPARE(m_platform->m_files.size(), std::size_t(1));

    m_dlg->m_lbServers.ResetContent();
    m_dlg->SetItemCheck(IDC_SOUND, 0);
    PressOk("3600");
    QCOMPARE(m_platform->m_files[kListPath], std::string("3600\r\n0\r\n0\r\n"));
}

void CTestSettings::SaveFailureKeepsOldFile_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("disk full after 5 bytes") << "write" << QByteArray("Disk full while accessing ");
    QTest::newRow("flush") << "flush"
                           << QByteArray("A hardware I/O error was reported while accessing ");
    QTest::newRow("close") << "close" << QByteArray("Disk full while accessing ");
    QTest::newRow("rename") << "rename" << QByteArray("Access to ");
}

void CTestSettings::SaveFailureKeepsOldFile() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, message);
    const std::string old = "45\r\n1\r\n1\r\n10.0.0.1\r\n";
    m_platform->m_files[kListPath] = old;
    Create();
    if (fault == "write") m_platform->m_nWriteFailAfter = 5;
    if (fault == "flush") m_platform->m_nFlushError = 5;      // EIO
    if (fault == "close") m_platform->m_nCloseError = 28;     // ENOSPC
    if (fault == "rename") m_platform->m_nReplaceError = 13;  // EACCES
    m_dlg->m_lbServers.AddString("10.0.0.7");
    m_platform->m_timers.clear();
    PressOk("20");

    QCOMPARE(m_platform->m_files[kListPath], old);
    QCOMPARE(m_platform->m_files.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QVERIFY(m_platform->m_boxes[0].strText.rfind(message.toStdString(), 0) == 0);
    QVERIFY(m_platform->m_boxes[0].strText.find(kListPath) != CString::npos);
    QCOMPARE(m_platform->m_boxes[0].nType, UINT(MB_OK | MB_ICONHAND));
    // The rest of OK is abandoned: no waiting picture, no timer.
    QVERIFY(m_platform->m_trayCalls.empty());
    QVERIFY(m_platform->m_timers.empty());
}

void CTestSettings::SaveWithoutTempFileIsQuiet() {
    Create();
    m_platform->m_bFailCreateTemp = true;
    PressOk("20");
    QVERIFY(m_platform->m_boxes.empty());
    QVERIFY(m_platform->m_files.empty());
    QVERIFY(m_dlg->m_bCycling);
    QCOMPARE(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER), 20000u);
}

void CTestSettings::SaveThroughLink() {
    const CString target = "/srv/lists/main.lst";
    m_platform->m_links[kListPath] = target;
    m_platform->m_files[target] = "45\r\n1\r\n1\r\n";
    Create();
    PressOk("30");
    QCOMPARE(m_platform->m_files[target], std::string("30\r\n1\r\n1\r\n"));
    QCOMPARE(m_platform->m_links[kListPath], target);
    QCOMPARE(m_platform->m_files.size(), std::size_t(1));
    // Made beside the target and renamed onto it, so the rename stays on one file system.
    QCOMPARE(m_platform->m_replaceCalls.size(), std::size_t(1));
    QVERIFY(m_platform->m_replaceCalls[0].first.rfind(target + ".", 0) == 0);
    QCOMPARE(m_platform->m_replaceCalls[0].second, target);

    // A fault names the file being written.
    m_platform->m_nWriteFailAfter = 5;
    PressOk("20");
    QCOMPARE(m_platform->m_files[target], std::string("30\r\n1\r\n1\r\n"));
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes[0].strText, "Disk full while accessing " + target + ".");
}

void CTestSettings::SaveThroughLinkLoop() {
    m_platform->m_links[kListPath] = "Other.Lst";
    m_platform->m_links["/home/user/Other.Lst"] = "Quorvane.Lst";
    const auto links = m_platform->m_links;
    Create();
    m_platform->m_timers.clear();
    PressOk("20");
    // The path the user knows, as the loop has no end to name.
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes[0].strText, kListPath + " contains an invalid path.");
    QCOMPARE(m_platform->m_links, links);
    QVERIFY(m_platform->m_files.empty());
    QVERIFY(m_platform->m_timers.empty());
}

void CTestSettings::LongWorkingDirectory() {
    m_platform->m_strCwd = "/" + CString(300, 'd');
    m_platform->m_files[m_platform->m_strCwd + "/Quorvane.Lst"] = "12\r\n0\r\n1\r\n";
    Create();
    QCOMPARE(m_dlg->m_strListPath, m_platform->m_strCwd + "/Quorvane.Lst");
    QCOMPARE(m_dlg->m_nDelay, 12);
}

void CTestSettings::RealFileSystem() {
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

void CTestSettings::RealSaveThroughLinks_data() {
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

void CTestSettings::RealSaveThroughLinks() {
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

void CTestSettings::RealSaveKeepsModeAndOwner_data() {
    QTest::addColumn<int>("mode");  // of the file before the save; -1: no file
    QTest::addColumn<bool>("owner");
    QTest::newRow("0664") << 0664 << false;
    QTest::newRow("0600") << 0600 << false;
    QTest::newRow("new file, umask 027") << -1 << false;
    QTest::newRow("another owner") << 0664 << true;
}

void CTestSettings::RealSaveKeepsModeAndOwner() {
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

void CTestSettings::RealLinkChainBound() {
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

QTEST_MAIN(CTestSettings)
#include "test_settings.moc"
