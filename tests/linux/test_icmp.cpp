// The ICMP facility on real sockets, and the sonar clip.
// Every live test runs only in a private network namespace holding nothing but lo (see
// scripts/in-netns.sh) and only ever addresses 127.0.0.0/8. It changes that namespace's own
// settings (ping_group_range, icmp_echo_ignore_all) and restores them.

#include <arpa/inet.h>
#include <linux/capability.h>
#include <net/if.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "framework/backend.h"
#include "harness/lookupcases.h"
#include "harness/netns.h"
#include "logic/keepalivedlg.h"
#include "platform/linux/icmpfacility.h"
#include "platform/linux/icmppacket.h"
#include "platform/linux/qtplatform.h"

namespace {

using Clock = std::chrono::steady_clock;
using Packet = std::vector<BYTE>;

const char kNotIsolated[] = "not in a private network namespace holding only lo";
const char kPingGroupRange[] = "/proc/sys/net/ipv4/ping_group_range";
const char kEchoIgnoreAll[] = "/proc/sys/net/ipv4/icmp_echo_ignore_all";
const char kPayload[] = "Harrowbecks Software, Incorporated";  // 35 bytes with the terminator
const IPAddr kLoopback = htonl(INADDR_LOOPBACK);

qint64 MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Sets one of the namespace's kernel settings for the life of the object.
class CSysctl {
public:
    CSysctl(const char* pszPath, const char* pszValue) : m_strPath(pszPath) {
        std::ifstream in(pszPath);
        if (std::getline(in, m_strOld)) m_bSet = Write(pszValue);
    }
    ~CSysctl() {
        if (m_bSet) Write(m_strOld);
    }
    CSysctl(const CSysctl&) = delete;
    CSysctl& operator=(const CSysctl&) = delete;
    bool IsSet() const { return m_bSet; }

private:
    bool Write(const std::string& strValue) {
        std::ofstream out(m_strPath);
        out << strValue << '\n';
        out.close();
        return !out.fail();
    }
    std::string m_strPath;
    std::string m_strOld;
    bool m_bSet = false;
};

// Makes the facility open the given socket kind: the datagram socket whenever the group is
// inside ping_group_range, the raw one when it is not.
std::unique_ptr<CSysctl> UseSocketKind(bool bRaw) {
    auto pRange = std::make_unique<CSysctl>(kPingGroupRange, bRaw ? "1 0" : "0 2147483647");
    if (!pRange->IsSet()) return nullptr;
    HANDLE hIcmp = QvIcmpCreateFile();
    const bool bMatches = hIcmp != INVALID_HANDLE_VALUE && QvIcmpIsRawHandle(hIcmp) == bRaw;
    QvIcmpCloseHandle(hIcmp);
    return bMatches ? std::move(pRange) : nullptr;
}

// A raw ICMP socket that sees every ICMP packet in the namespace, IP header included.
class CRawIcmp {
public:
    CRawIcmp() : m_nFd(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
    ~CRawIcmp() {
        if (m_nFd >= 0) close(m_nFd);
    }
    CRawIcmp(const CRawIcmp&) = delete;
    CRawIcmp& operator=(const CRawIcmp&) = delete;
    bool IsOpen() const { return m_nFd >= 0; }
    // The next packet within waitMs, or nothing.
    bool Receive(Packet& packet, int waitMs) {
        pollfd pfd{m_nFd, POLLIN, 0};
        if (poll(&pfd, 1, waitMs) <= 0) return false;
        packet.resize(65536);
        const ssize_t size = recv(m_nFd, packet.data(), packet.size(), MSG_DONTWAIT);
        if (size < 0) return false;
        packet.resize(static_cast<std::size_t>(size));
        return true;
    }

private:
    int m_nFd;
};

// Answers the first echo request it sees the way the test asks, with packets it builds down
// to the IP header, while the kernel's own replies are off.
class CResponder {
public:
    enum EMode {
        kCorrect,
        kLate,  // correct, after 150 ms
        kNothing,
        kWrongSequence,
        kWrongIdent,
        kWrongSource,
        kWrongPayload,
        kTruncated,
        kBadChecksum,
        kUnreachable,
        kUnreachableElsewhere,  // quotes our request, sent to another destination
        kCodeNotZero,
        kFloodOfStale,
    };

    explicit CResponder(EMode eMode)
        : m_eMode(eMode), m_nSend(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW)) {
        if (m_listen.IsOpen() && m_nSend >= 0) m_thread = std::thread([this] { Run(); });
    }
    ~CResponder() {
        m_bStop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_nSend >= 0) close(m_nSend);
    }
    CResponder(const CResponder&) = delete;
    CResponder& operator=(const CResponder&) = delete;
    bool IsRunning() const { return m_thread.joinable(); }

private:
    void Run() {
        Packet request;
        while (!m_bStop) {
            if (!m_listen.Receive(request, 10)) continue;
            const std::size_t headerSize = static_cast<std::size_t>(request[0] & 0x0F) * 4;
            if (request.size() < headerSize + kIcmpHeaderSize || request[headerSize] != kIcmpEcho)
                continue;
            if (m_eMode == kLate) std::this_thread::sleep_for(std::chrono::milliseconds(150));
            // A flood ends on its own, so a wait it wrongly extends still ends, if late.
            for (int i = 0; i < (m_eMode == kFloodOfStale ? 150 : 1) && !m_bStop; ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                Answer(request, headerSize);
            }
            return;
        }
    }

    void Answer(const Packet& request, std::size_t headerSize) {
        IPAddr source;
        IPAddr destination;
        std::memcpy(&source, &request[16], 4);  // the request's destination answers
        std::memcpy(&destination, &request[12], 4);
        Packet icmp(request.begin() + static_cast<std::ptrdiff_t>(headerSize), request.end());
        switch (m_eMode) {
            case kNothing:
                return;
            case kUnreachable:
            case kUnreachableElsewhere:
                // Host unreachable, quoting the request from its IP header on.
                icmp.assign(kIcmpHeaderSize, 0);
                icmp[0] = kIcmpDestUnreachable;
                icmp[1] = 1;
                icmp.insert(icmp.end(), request.begin(), request.end());
                // The quoted destination: another loopback address (only ever bytes here).
                if (m_eMode == kUnreachableElsewhere) ++icmp[kIcmpHeaderSize + 19];
                break;
            default:
                icmp[0] = kIcmpEchoReply;
                break;
        }
        // A flood is a stream of stale answers.
        if (m_eMode == kWrongSequence || m_eMode == kFloodOfStale) ++icmp[7];
        if (m_eMode == kWrongIdent) ++icmp[5];
        if (m_eMode == kCodeNotZero) icmp[1] = 1;
        if (m_eMode == kWrongPayload) icmp[kIcmpHeaderSize] ^= 0x20;
        if (m_eMode == kTruncated) icmp.pop_back();
        if (m_eMode == kWrongSource) source = htonl(INADDR_LOOPBACK + 1);
        icmp[2] = icmp[3] = 0;
        const WORD checksum = IcmpChecksum(icmp.data(), icmp.size());
        icmp[2] = static_cast<BYTE>(checksum >> 8);
        icmp[3] = static_cast<BYTE>(checksum ^ (m_eMode == kBadChecksum ? 0x01 : 0x00));

        // The kernel fills in the IP length, identification and header checksum.
        Packet packet(20, 0);
        packet[0] = 0x45;
        packet[8] = 64;
        packet[9] = IPPROTO_ICMP;
        std::memcpy(&packet[12], &source, 4);
        std::memcpy(&packet[16], &destination, 4);
        packet.insert(packet.end(), icmp.begin(), icmp.end());
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = destination;
        sendto(m_nSend, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }

    EMode m_eMode;
    CRawIcmp m_listen;
    int m_nSend;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// Signals the calling thread every 5 ms while it lives, through a handler without
// SA_RESTART, so that every wait in between is interrupted.
class CInterrupter {
public:
    CInterrupter() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &m_oldAction);
        m_thread = std::thread([this, target = pthread_self()] {
            for (; !m_bStop; std::this_thread::sleep_for(std::chrono::milliseconds(5)))
                pthread_kill(target, SIGUSR1);
        });
    }
    ~CInterrupter() {
        m_bStop = true;
        m_thread.join();
        sigaction(SIGUSR1, &m_oldAction, nullptr);
    }
    CInterrupter(const CInterrupter&) = delete;
    CInterrupter& operator=(const CInterrupter&) = delete;

private:
    struct sigaction m_oldAction {};
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// Runs body in a child process and returns its exit code (-1 when it did not exit), for what
// must not touch this process: mounts, dropped capabilities.
int RunInChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
constexpr int kChildCannotPrepare = 100;

// The real platform's binding of the facility, as start-up does it.
CIcmpLibrary BindIcmp(CPlatform& platform) {
    CIcmpLibrary icmp;
    icmp.Bind(platform);
    return icmp;
}

// One echo request through the facility, as TryPing sends it but with the test's timeout.
struct CEcho {
    DWORD dwReplies = 0;
    ICMP_ECHO_REPLY record{};
    qint64 nElapsedMs = 0;
    BYTE buffer[280] = {};
};

// bFromLoop: the request that does not wait in the call, waited for from the event loop as
// the program does.
CEcho SendEcho(HANDLE hIcmp, IPAddr destination, DWORD timeoutMs, bool bFromLoop = false) {
    CEcho echo;
    char payload[sizeof kPayload];
    std::memcpy(payload, kPayload, sizeof payload);
    IP_OPTION_INFORMATION options{};
    options.Ttl = 254;
    const auto start = Clock::now();
    if (bFromLoop) {
        HANDLE hEvent = AfxCreateEvent();
        echo.dwReplies =
            QvIcmpSendEcho2(hIcmp, hEvent, nullptr, nullptr, destination, payload, sizeof payload,
                            &options, echo.buffer, sizeof echo.buffer, timeoutMs);
        // The payload is the request's own once sent.
        std::memset(payload, 0, sizeof payload);
        if (echo.dwReplies == 0 && QvIcmpGetLastError() == ERROR_IO_PENDING) {
            if (AfxWaitServing(hEvent))
                echo.dwReplies = QvIcmpParseReplies(echo.buffer, sizeof echo.buffer);
        }
        AfxCloseEvent(hEvent);
    } else {
        echo.dwReplies = QvIcmpSendEcho(hIcmp, destination, payload, sizeof payload, &options,
                                        echo.buffer, sizeof echo.buffer, timeoutMs);
    }
    echo.nElapsedMs = MsSince(start);
    std::memcpy(&echo.record, echo.buffer, sizeof echo.record);
    return echo;
}

}  // namespace

class CTestIcmp : public QObject {
    Q_OBJECT

private slots:
    void EchoOnEachSocketKind_data();
    void EchoOnEachSocketKind();
    void TimeoutWhenEchoesIgnored();
    void CloseEndsTheRequestUnderWay();
    void AnswersThatCount_data();
    void AnswersThatCount();
    void LocalhostResolvedAndRewritten();
    void NamesNotInAscii();
    void LookupForms();
    void NotPermitted();
    void SonarClip();
};

void CTestIcmp::EchoOnEachSocketKind_data() {
    QTest::addColumn<bool>("raw");
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("datagram") << false << QByteArray("127.0.0.1");
    QTest::newRow("raw") << true << QByteArray("127.0.0.1");
    // Answered from the address asked, not from 127.0.0.1.
    QTest::newRow("datagram, other loopback") << false << QByteArray("127.9.8.7");
    QTest::newRow("raw, other loopback") << true << QByteArray("127.9.8.7");
}

void CTestIcmp::EchoOnEachSocketKind() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    QFETCH(bool, raw);
    QFETCH(QByteArray, address);
    const auto pKind = UseSocketKind(raw);
    if (!pKind) QSKIP("this socket kind cannot be had here");
    const IPAddr destination = inet_addr(address.constData());
    CRawIcmp capture;
    QVERIFY(capture.IsOpen());

    HANDLE hIcmp = QvIcmpCreateFile();
    QVERIFY(hIcmp != INVALID_HANDLE_VALUE);
    // Twice on one handle: the second request must not be mistaken for the first.
    for (int i = 0; i < 2; ++i) {
        const CEcho echo = SendEcho(hIcmp, destination, 2000);
        QCOMPARE(echo.dwReplies, DWORD(1));
        QCOMPARE(echo.record.Status, IP_SUCCESS);
        QCOMPARE(echo.record.Address, destination);
        QVERIFY(echo.record.RoundTripTime < 1000);
        QCOMPARE(echo.record.DataSize, WORD(sizeof kPayload));
        // The echoed data right behind the record, inside the caller's buffer.
        QCOMPARE(static_cast<const void*>(echo.record.Data),
                 static_cast<const void*>(echo.buffer + sizeof(ICMP_ECHO_REPLY)));
        QCOMPARE(std::memcmp(echo.record.Data, kPayload, sizeof kPayload), 0);
    }
    QCOMPARE(QvIcmpCloseHandle(hIcmp), TRUE);
    // And once as the program probes.
    CQtPlatform platform;
    const CIcmpLibrary icmp = BindIcmp(platform);
    CKeepAliveDlg dlg(platform, icmp);
    QVERIFY(dlg.TryPing(address.toStdString()) >= 0);

    // All three on the wire exactly as asked.
    int nRequests = 0;
    Packet packet;
    while (capture.Receive(packet, 100)) {
        const std::size_t headerSize = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
        if (packet.size() <= headerSize || packet[headerSize] != kIcmpEcho) continue;
        ++nRequests;
        QCOMPARE(std::memcmp(&packet[16], &destination, 4), 0);
        QCOMPARE(int(packet[8]), 254);                          // TTL
        QCOMPARE(packet.size() - headerSize, std::size_t(43));  // ICMP header and payload
        QCOMPARE(int(packet[headerSize + 1]), 0);               // code
        QCOMPARE(IcmpChecksum(&packet[headerSize], 43), WORD(0));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&packet[headerSize + 8]), 35),
                 QByteArray(kPayload, 35));
    }
    QCOMPARE(nRequests, 3);
}

void CTestIcmp::TimeoutWhenEchoesIgnored() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    CSysctl ignore(kEchoIgnoreAll, "1");
    if (!ignore.IsSet()) QSKIP("cannot switch the namespace's echo replies off");
    CQtPlatform platform;
    const CIcmpLibrary icmp = BindIcmp(platform);
    CKeepAliveDlg dlg(platform, icmp);

    const auto start = Clock::now();
    QCOMPARE(dlg.TryPing("127.0.0.1"), -1);
    const qint64 elapsedMs = MsSince(start);
    QVERIFY2(elapsedMs >= 5000 && elapsedMs < 7000, QByteArray::number(elapsedMs).constData());
}

void CTestIcmp::CloseEndsTheRequestUnderWay() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    CSysctl ignore(kEchoIgnoreAll, "1");
    if (!ignore.IsSet()) QSKIP("cannot switch the namespace's echo replies off");
    for (bool raw : {false, true}) {
        const auto pKind = UseSocketKind(raw);
        if (!pKind) continue;
        HANDLE hIcmp = QvIcmpCreateFile();
        QVERIFY(hIcmp != INVALID_HANDLE_VALUE);
        HANDLE hEvent = AfxCreateEvent();
        char payload[sizeof kPayload];
        std::memcpy(payload, kPayload, sizeof payload);
        auto pBuffer = std::make_unique<BYTE[]>(280);
        QCOMPARE(QvIcmpSendEcho2(hIcmp, hEvent, nullptr, nullptr, kLoopback, payload,
                                 sizeof payload, nullptr, pBuffer.get(), 280, 200),
                 DWORD(0));
        QCOMPARE(QvIcmpGetLastError(), ERROR_IO_PENDING);
        // One request at a time on a handle.
        QCOMPARE(QvIcmpSendEcho2(hIcmp, hEvent, nullptr, nullptr, kLoopback, payload,
                                 sizeof payload, nullptr, pBuffer.get(), 280, 200),
                 DWORD(0));
        QVERIFY(QvIcmpGetLastError() != ERROR_IO_PENDING);
        QVERIFY(!AfxWaitEvent(hEvent, 0));
        // Closed under way: the event says at once that the buffer is free, and the loop that
        // goes on past the deadline writes nothing into it (a sanitizer build sees a write).
        QCOMPARE(QvIcmpCloseHandle(hIcmp), TRUE);
        QVERIFY(AfxWaitEvent(hEvent, 0));
        pBuffer.reset();
        QTest::qWait(300);
        AfxCloseEvent(hEvent);
    }
}

void CTestIcmp::AnswersThatCount_data() {
    QTest::addColumn<bool>("raw");
    QTest::addColumn<bool>("fromLoop");
    QTest::addColumn<int>("mode");
    QTest::addColumn<DWORD>("status");  // IP_REQ_TIMED_OUT: the answer did not count

    struct CKind {
        const char* pszName;
        bool bRaw;
        bool bFromLoop;
    };
    const CKind kinds[] = {{"datagram", false, false},
                           {"raw", true, false},
                           {"datagram, from the loop", false, true},
                           {"raw, from the loop", true, true}};
    for (const auto& [name, raw, fromLoop] : kinds) {
        auto row = [&, name = name, raw = raw, fromLoop = fromLoop](
                       const char* what, CResponder::EMode mode, DWORD status) {
            QTest::addRow("%s: %s", name, what) << raw << fromLoop << int(mode) << status;
        };
        row("correct", CResponder::kCorrect, IP_SUCCESS);
        row("correct but late", CResponder::kLate, IP_SUCCESS);
        // An error about our request ends the wait at once.
        row("host unreachable", CResponder::kUnreachable, IP_DEST_HOST_UNREACHABLE);
        row("wrong sequence", CResponder::kWrongSequence, IP_REQ_TIMED_OUT);
        // Not about our request, though it quotes our identifier and sequence.
        row("unreachable, other destination", CResponder::kUnreachableElsewhere, IP_REQ_TIMED_OUT);
        row("wrong source", CResponder::kWrongSource, IP_REQ_TIMED_OUT);
        // An echo reply has code 0; any other code is not one.
        row("reply with code 1", CResponder::kCodeNotZero, IP_REQ_TIMED_OUT);
        row("wrong payload", CResponder::kWrongPayload, IP_REQ_TIMED_OUT);
        row("truncated", CResponder::kTruncated, IP_REQ_TIMED_OUT);
        row("bad checksum", CResponder::kBadChecksum, IP_REQ_TIMED_OUT);
        if (raw) {
            row("wrong identifier", CResponder::kWrongIdent, IP_REQ_TIMED_OUT);
            // Our own request comes back on lo, alike in everything but its type.
            row("own request only", CResponder::kNothing, IP_REQ_TIMED_OUT);
        }
        // A stale answer every 10 ms: none may put the deadline off.
        row("flood of stale answers", CResponder::kFloodOfStale, IP_REQ_TIMED_OUT);
    }
}

void CTestIcmp::AnswersThatCount() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    QFETCH(bool, raw);
    QFETCH(bool, fromLoop);
    QFETCH(int, mode);
    QFETCH(DWORD, status);
    constexpr DWORD kTimeoutMs = 400;
    const auto pKind = UseSocketKind(raw);
    if (!pKind) QSKIP("this socket kind cannot be had here");
    CSysctl ignore(kEchoIgnoreAll, "1");
    QVERIFY(ignore.IsSet());
    HANDLE hIcmp = QvIcmpCreateFile();
    QVERIFY(hIcmp != INVALID_HANDLE_VALUE);

    CEcho echo;
    {
        CResponder responder(static_cast<CResponder::EMode>(mode));
        QVERIFY(responder.IsRunning());
        // Signals all through the wait must neither end it nor count as an answer.
        CInterrupter interrupter;
        echo = SendEcho(hIcmp, kLoopback, kTimeoutMs, fromLoop);
    }
    QCOMPARE(QvIcmpCloseHandle(hIcmp), TRUE);

    QCOMPARE(echo.record.Status, status);
    if (status == IP_REQ_TIMED_OUT) {
        QCOMPARE(echo.dwReplies, DWORD(0));
        QVERIFY2(echo.nElapsedMs >= kTimeoutMs && echo.nElapsedMs < kTimeoutMs + 500,
                 QByteArray::number(echo.nElapsedMs).constData());
    } else {
        QCOMPARE(echo.dwReplies, DWORD(1));
        QCOMPARE(echo.record.Address, kLoopback);
        QVERIFY(echo.nElapsedMs < kTimeoutMs);
        if (mode == CResponder::kLate) QVERIFY(echo.record.RoundTripTime >= 140);
    }
}

void CTestIcmp::LocalhostResolvedAndRewritten() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    CQtPlatform platform;
    const CIcmpLibrary icmp = BindIcmp(platform);
    QVERIFY(icmp.IsBound());
    QCOMPARE(platform.GetLoadLibraryError(), CString());
    CKeepAliveDlg dlg(platform, icmp);

    CString strAddress = "localhost";
    QCOMPARE(dlg.ResolveAndPing(strAddress), TRUE);
    QCOMPARE(strAddress, CString("127.0.0.1"));
}

void CTestIcmp::NamesNotInAscii() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string strHosts = dir.filePath("hosts").toStdString();
    const std::string strResolver = dir.filePath("resolv.conf").toStdString();
    std::ofstream(strHosts) << "127.0.0.1 localhost\n127.0.0.9 xn--bcher-kva.example\n";
    // Should a name ever reach DNS, it asks loopback, where nothing listens.
    std::ofstream(strResolver) << "nameserver 127.0.0.1\n";

    const int result = RunInChild([&] {
        // Our own view of /etc, private to this child.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(strHosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
            mount(strResolver.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
            return kChildCannotPrepare;
        CQtPlatform platform;
        const CIcmpLibrary icmp = BindIcmp(platform);
        CKeepAliveDlg dlg(platform, icmp);
        // Looked up by the IDNA form, case folded; only the dotted address comes back.
        CString strName =
            "B\xc3\x9c"
            "cher.example";
        if (dlg.ResolveAndPing(strName) != TRUE || strName != "127.0.0.9") return 1;
        // Not UTF-8, or refused by IDNA: no name, and the text stays as it was.
        CString strBad =
            "b\xfc"
            "cher.example";
        if (dlg.ResolveAndPing(strBad) != FALSE || strBad !=
                                                       "b\xfc"
                                                       "cher.example")
            return 2;
        if (platform.GetHostByName("a b.ex\xc3\xa4mple")) return 3;
        if (platform.GetHostByName(CString("localhost\0.example", 18))) return 4;
        return 0;
    });
    if (result == kChildCannotPrepare) QSKIP("cannot give the test its own /etc/hosts");
    QCOMPARE(result, 0);
}

void CTestIcmp::LookupForms() {
    for (const CLookupCase& c : kLookupCases) {
        const CString name = QString::fromWCharArray(c.pszName, static_cast<qsizetype>(c.nLength))
                                 .toUtf8()
                                 .toStdString();
        const std::optional<CString> lookup = CQtPlatform::LookupForm(name);
        QVERIFY2(lookup.has_value() == (c.pszLookup != nullptr), name.c_str());
        if (lookup) QCOMPARE(*lookup, CString(c.pszLookup));
    }
    // Bytes that are no UTF-8 are no name.
    QVERIFY(
        !CQtPlatform::LookupForm("b\xfc"
                                 "cher.example"));
}

void CTestIcmp::NotPermitted() {
    if (!OnlyLoopback()) QSKIP(kNotIsolated);
    // No group may open datagram sockets, and the child gives up the raw socket capability.
    CSysctl range(kPingGroupRange, "1 0");
    if (!range.IsSet()) QSKIP("cannot change the namespace's ping_group_range");

    const int result = RunInChild([] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0) return kChildCannotPrepare;
        data[0].effective &= ~(1u << CAP_NET_RAW);
        data[0].permitted &= ~(1u << CAP_NET_RAW);
        if (syscall(SYS_capset, &header, data) != 0) return kChildCannotPrepare;

        if (QvIcmpCreateFile() != INVALID_HANDLE_VALUE) return 1;
        const CString strProblem = QvIcmpPermissionProblem("/opt/quorvane/quorvane");
        for (const char* part : {"not permitted", "net.ipv4.ping_group_range", "cap_net_raw",
                                 "/opt/quorvane/quorvane"}) {
            if (strProblem.find(part) == CString::npos) return 2;
        }
        // Start-up then finds no library, with this for its reason.
        CQtPlatform platform;
        if (platform.LoadLibrary(kIcmpLibraryName) != nullptr) return 3;
        if (platform.GetLoadLibraryError().find("not permitted") == CString::npos) return 4;
        return 0;
    });
    if (result == kChildCannotPrepare) QSKIP("cannot drop the raw socket capability");
    QCOMPARE(result, 0);
}

void CTestIcmp::SonarClip() {
    QFile file(":/sounds/SonarSound.wav");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wav.constData() + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
    constexpr int kDataSize = 20467;

    QVERIFY(wav.size() >= 44);
    QCOMPARE(wav.mid(0, 4), QByteArray("RIFF"));
    QCOMPARE(u32(4), quint32(wav.size() - 8));
    QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(u32(16), quint32(16));
    QCOMPARE(u16(20), quint16(1));  // PCM
    QCOMPARE(u16(22), quint16(1));  // mono
    QCOMPARE(u32(24), quint32(11025));
    QCOMPARE(u32(28), quint32(11025));  // bytes per second
    QCOMPARE(u16(32), quint16(1));      // bytes per frame
    QCOMPARE(u16(34), quint16(8));
    QCOMPARE(wav.mid(36, 4), QByteArray("data"));
    QCOMPARE(u32(40), quint32(kDataSize));
    // The odd-sized chunk is followed by its pad byte.
    QCOMPARE(wav.size(), 44 + kDataSize + 1);
}

QTEST_MAIN(CTestIcmp)
#include "test_icmp.moc"
