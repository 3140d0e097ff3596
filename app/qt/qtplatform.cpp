#include "qt/qtplatform.h"

#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibrary>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "framework/qt/qtbackend.h"
#include "framework/wnd.h"
#include "icmpfacility.h"
#include "qt/qtsound.h"
#include "qt/qttray.h"

struct CModule {
    const char* pszName;
    struct Export {
        const char* pszName;
        void* pfn;
    };
    Export exports[3];
};

namespace {

// The program's own ICMP facility, reachable under the system library's name.
CModule g_icmpModule{"ICMP.DLL",
                     {{"IcmpCreateFile", reinterpret_cast<void*>(&QvIcmpCreateFile)},
                      {"IcmpCloseHandle", reinterpret_cast<void*>(&QvIcmpCloseHandle)},
                      {"IcmpSendEcho", reinterpret_cast<void*>(&QvIcmpSendEcho)}}};

// The timer facility's bounds: shorter periods are raised, longer ones cut.
constexpr UINT kMinTimerMs = 10;

QMessageBox::Icon BoxIcon(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND:
            return QMessageBox::Critical;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

CQtPlatform::CQtPlatform() {
    // An end request from outside must not wait for an echo that may never come.
    AfxSetEndInterrupt(&QvIcmpAbort);
}
CQtPlatform::~CQtPlatform() {
    AfxSetEndInterrupt(nullptr);
    // A tray icon removed in the last handler was only scheduled for deletion, and the loop
    // that would have deleted it has ended.
    m_pTray.reset();
    ReleaseInstance();
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

BOOL CQtPlatform::SocketInit() { return TRUE; }

std::optional<std::uint32_t> CQtPlatform::GetHostByName(const CString& name) {
    // A NUL would end the name early: a different name would be looked up.
    if (name.empty() || name.find('\0') != CString::npos) return {};
    const auto isAscii = [](const auto& text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    CString strLookup = name;
    if (!isAscii(name)) {
        // The resolver takes ASCII only, so other text is looked up by its IDNA form, the name
        // its owner registered. Converted here, not with AI_IDN, which reads the bytes in the
        // locale's encoding. Text that is not UTF-8, or that IDNA refuses, is no name.
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text =
            decoder(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
        if (decoder.hasError()) return {};
        const QByteArray ace = QUrl::toAce(text);
        if (ace.isEmpty() || !isAscii(ace)) return {};
        strLookup = ace.toStdString();
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* result = nullptr;
    if (getaddrinfo(strLookup.c_str(), nullptr, &hints, &result) != 0) return {};
    std::optional<std::uint32_t> address;
    for (addrinfo* ai = result; ai != nullptr && !address; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET)
            address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
    }
    freeaddrinfo(result);
    return address;
}

void CQtPlatform::SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) {
    auto& timer = m_timers[{&wnd, id}];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        // The default coarse timer fires up to 5% early; the delay is the user's promise.
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, [this, &wnd, id] {
            // Ticks that come during a probe wait for it, and count once, as the system's
            // do; a tick of a timer killed meanwhile never comes.
            const std::pair<CWnd*, UINT_PTR> key{&wnd, id};
            if (!m_heldTicks.insert(key).second) return;
            QtDeliver([this, key] {
                if (m_heldTicks.erase(key) != 0 && m_timers.count(key) != 0)
                    key.first->SendMessage(WM_TIMER, static_cast<WPARAM>(key.second));
            });
        });
    }
    m_heldTicks.erase({&wnd, id});
    const UINT period = elapseMs < kMinTimerMs                  ? kMinTimerMs
                        : elapseMs > static_cast<UINT>(INT_MAX) ? static_cast<UINT>(INT_MAX)
                                                                : elapseMs;
    timer->start(static_cast<int>(period));
}

void CQtPlatform::KillTimer(CWnd& wnd, UINT_PTR id) {
    m_timers.erase({&wnd, id});
    m_heldTicks.erase({&wnd, id});
}

BOOL CQtPlatform::ShellNotifyIcon(DWORD message, const CNotifyIconData& data) {
    if (!m_pTray) m_pTray = std::make_unique<CQtTray>(GetAppName());
    return m_pTray->Notify(message, data) ? TRUE : FALSE;
}

HICON CQtPlatform::LoadIcon(UINT resourceId, int cx, int cy) {
    return new CIconRes{resourceId, cx, cy};
}

void CQtPlatform::DestroyIcon(HICON icon) { delete icon; }

BOOL CQtPlatform::PlaySound(const char* name, DWORD /*flags*/) {
    // Always asynchronous, always from the program's resources: the only way it is asked.
    if (!m_bSoundLoaded) {
        m_bSoundLoaded = true;
        // Beside the executable in the build tree; where the install rules put it otherwise,
        // found from the executable's own place so that a moved installation still has it.
        const QString dir = QCoreApplication::applicationDirPath();
        QLibrary module(dir + "/" + kSoundModuleName);
        if (!module.load())
            module.setFileName(
                QDir::cleanPath(dir + "/" + QV_SOUND_MODULE_FROM_BIN + "/" + kSoundModuleName));
        const auto pfnCreate =
            reinterpret_cast<PFN_QvSoundCreate>(module.resolve(kSoundCreateEntry));
        const auto pfnPlay = reinterpret_cast<PFN_QvSoundPlay>(module.resolve(kSoundPlayEntry));
        const auto pfnDestroy =
            reinterpret_cast<PFN_QvSoundDestroy>(module.resolve(kSoundDestroyEntry));
        CQtSound* pSound = pfnCreate != nullptr && pfnPlay != nullptr && pfnDestroy != nullptr
                               ? pfnCreate()
                               : nullptr;
        // Without it the probes go on silently; say so once.
        if (pSound == nullptr)
            std::fprintf(stderr, "%s: no sound: %s\n", GetAppName().c_str(),
                         module.isLoaded() ? "the sound module is incomplete"
                                           : qPrintable(module.errorString()));
        m_sound.pSound = pSound;
        m_sound.pfnPlay = pfnPlay;
        m_sound.pfnDestroy = pfnDestroy;
    }
    return m_sound.pSound != nullptr && m_sound.pfnPlay(m_sound.pSound, name) ? TRUE : FALSE;
}

int CQtPlatform::MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        // Nobody could answer a box without a display: say it and go on.
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return IDOK;
    }
    QMessageBox box(BoxIcon(type), QtString(caption), QtString(text), QMessageBox::Ok,
                    QtExistingWidgetOf(owner));
    box.exec();
    return IDOK;
}
