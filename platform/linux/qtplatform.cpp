// The system services on the Linux desktop that need no window: the program's name, library
// loading (the built-in ICMP facility), sockets and name resolution. The window-bound ones are
// in qtdesktop.cpp, the files in posixfiles.cpp, one instance per list in qtinstance.cpp.

#include "platform/linux/qtplatform.h"

#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>
#include <cstring>

#include "base/inet.h"
#include "framework/backend.h"
#include "framework/linux/qtbackend.h"
#include "platform/linux/icmpfacility.h"
#include "platform/linux/qttray.h"

struct CModule {
    const char* pszName;
    struct Export {
        const char* pszName;
        void* pfn;
    };
    Export exports[5];
};

namespace {

// The program's own ICMP facility, reachable under the system library's name.
CModule g_icmpModule{"ICMP.DLL",
                     {{"IcmpCreateFile", reinterpret_cast<void*>(&QvIcmpCreateFile)},
                      {"IcmpCloseHandle", reinterpret_cast<void*>(&QvIcmpCloseHandle)},
                      {"IcmpSendEcho", reinterpret_cast<void*>(&QvIcmpSendEcho)},
                      {"IcmpSendEcho2", reinterpret_cast<void*>(&QvIcmpSendEcho2)},
                      {"IcmpParseReplies", reinterpret_cast<void*>(&QvIcmpParseReplies)}}};

}  // namespace

CQtPlatform::CQtPlatform() { TakeWorkingDirectory(); }
CQtPlatform::~CQtPlatform() {
    // A tray icon removed in the last handler was only scheduled for deletion, and the loop
    // that would have deleted it has ended.
    m_pTray.reset();
    ReleaseInstance();
    if (m_nStartDir >= 0) ::close(m_nStartDir);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

CString CQtPlatform::GetAppName() const {
    return FromQtString(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

HMODULE CQtPlatform::LoadLibrary(const char* name) {
    m_strLoadLibraryError.clear();
    if (name == nullptr || strcasecmp(name, g_icmpModule.pszName) != 0) return nullptr;
    // The facility is built in, but of no use when this user may open no ICMP socket: better
    // to say so at start-up, as a library that cannot load, than to fail every probe.
    m_strLoadLibraryError =
        QvIcmpPermissionProblem(FromQtString(QCoreApplication::applicationFilePath()));
    return m_strLoadLibraryError.empty() ? &g_icmpModule : nullptr;
}

CString CQtPlatform::GetLoadLibraryError() const { return m_strLoadLibraryError; }

void* CQtPlatform::GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    for (const auto& entry : module->exports) {
        if (std::strcmp(entry.pszName, name) == 0) return entry.pfn;
    }
    return nullptr;
}

void CQtPlatform::FreeLibrary(HMODULE /*module*/) {}

DWORD CQtPlatform::GetLastError() const { return QvIcmpGetLastError(); }

BOOL CQtPlatform::SocketInit() { return TRUE; }

std::optional<CString> CQtPlatform::LookupForm(const CString& name) {
    return LookupName(name, [](const CString& text) -> CString {
        // Converted here, not with AI_IDN, which reads the bytes in the locale's encoding.
        // Text that is not UTF-8, or that IDNA refuses, is no name.
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded =
            decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
        if (decoder.hasError()) return {};
        return QUrl::toAce(decoded).toStdString();
    });
}

std::optional<std::uint32_t> CQtPlatform::GetHostByName(const CString& name) {
    const std::optional<CString> strLookup = LookupForm(name);
    if (!strLookup) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* result = nullptr;
    if (getaddrinfo(strLookup->c_str(), nullptr, &hints, &result) != 0) return {};
    std::optional<std::uint32_t> address;
    for (addrinfo* ai = result; ai != nullptr && !address; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET)
            address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
    }
    freeaddrinfo(result);
    return address;
}
