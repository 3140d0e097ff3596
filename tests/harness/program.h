#pragma once
// The real program as the end-to-end tests start it, and what a memory checker says on its
// standard error. Header-only: shared by the tests that run the program, with a desktop or
// without one.

#include <signal.h>
#include <sys/types.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What a memory checker, the sanitizers or glibc print when the heap is corrupt or leaks;
// empty when the output holds none of it.
inline QString MemoryErrorIn(const QByteArray& output) {
    static const char* const kSigns[] = {
        "AddressSanitizer", "LeakSanitizer", "runtime error:",  "malloc",
        "corrupted",        "double free",   "free(): invalid", "Segmentation fault"};
    for (const char* sign : kSigns) {
        const qsizetype at = output.indexOf(sign);
        if (at >= 0) return QString::fromUtf8(output.mid(qMax<qsizetype>(0, at - 200), 800));
    }
    return {};
}

// Where a test starts the program in a folder it has made ready itself (mounted, shared with
// another user, a list in it or none); the folder stays the test's.
struct CInFolder {
    QString strPath;
};

// The real program, started in a working directory of its own with the given list file, or in
// the test's folder. desktop: the environment of the desktop session it runs in
// ("NAME=value"); without one it runs with no display (offscreen). wrapper: a command that
// runs it.
class CProgram {
public:
    explicit CProgram(const QByteArray& listFile, const QStringList& desktop = {},
                      const QStringList& wrapper = {})
        : m_strDir(m_dir.path()) {
        QFile file(m_strDir + "/Quorvane.Lst");
        if (file.open(QIODevice::WriteOnly)) file.write(listFile);
        file.close();
        Start(desktop, wrapper);
    }
    explicit CProgram(const CInFolder& folder, const QStringList& desktop = {},
                      const QStringList& wrapper = {})
        : m_strDir(folder.strPath) {
        Start(desktop, wrapper);
    }
    ~CProgram() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    CProgram(const CProgram&) = delete;
    CProgram& operator=(const CProgram&) = delete;

    bool Started() { return m_process.waitForStarted(); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    void Signal(int nSignal) { ::kill(static_cast<pid_t>(m_process.processId()), nSignal); }
    // Waits for the end, however it ends; false when it still runs.
    bool Ends(int nMs) { return m_process.waitForFinished(nMs); }
    int ExitCode() const { return m_process.exitCode(); }
    void Kill() {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Waits for the end; true when it ended on its own with exit code 0.
    bool EndsWithZero(int nMs) {
        return m_process.waitForFinished(nMs) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }
    // Ends it as the session would: SIGTERM, then a clean exit with nothing reported.
    bool EndCleanly() {
        m_process.terminate();
        return EndsWithZero(5000) && MemoryError().isEmpty();
    }
    QString Outcome() const {
        return QStringLiteral("state %1, exit status %2, code %3; stderr:\n%4")
            .arg(m_process.state())
            .arg(m_process.exitStatus())
            .arg(m_process.exitCode())
            .arg(QString::fromUtf8(StdErr()));
    }
    // What the memory checkers or glibc said on its standard error; empty when nothing.
    QString MemoryError() const { return MemoryErrorIn(StdErr()); }
    QByteArray StdErr() const {
        QFile file(m_log.filePath("stderr"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The image format plugins mapped into the running program, and the libraries they bring
    // (libjpeg): the program reads and writes its pictures without any.
    QStringList ImagePlugins() const {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(m_process.processId()));
        if (!maps.open(QIODevice::ReadOnly)) return {QStringLiteral("(no maps to read)")};
        QStringList found;
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const QString file = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
            if ((file.contains(QLatin1String("/imageformats/")) ||
                 file.contains(QLatin1String("/libjpeg"))) &&
                !found.contains(file))
                found << file;
        }
        return found;
    }
    QString Dir() const { return m_strDir; }
    QStringList Files() const { return QDir(m_strDir).entryList(QDir::Files | QDir::Hidden); }
    QByteArray ListFile() const {
        QFile file(m_strDir + "/Quorvane.Lst");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    void Start(const QStringList& desktop, const QStringList& wrapper) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString& setting : desktop)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(m_strDir);
        // To a file, not a pipe: nothing has to drain it while the program runs.
        m_process.setStandardErrorFile(m_log.filePath("stderr"));
        QStringList command = wrapper;
        command << QStringLiteral(QV_QUORVANE_PATH);
        m_process.start(command.takeFirst(), command);
    }

    // Holds the list file of a program the test gave no folder of its own.
    QTemporaryDir m_dir;
    QString m_strDir;
    QTemporaryDir m_log;
    QProcess m_process;
};
