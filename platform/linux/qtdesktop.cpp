// The system services on the Linux desktop that belong to the program's windows: timers, the
// notification icon, icons, the sound and message boxes.

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLibrary>
#include <QMessageBox>
#include <QTimer>
#include <climits>
#include <cstdio>

#include "framework/linux/qtbackend.h"
#include "framework/wnd.h"
#include "platform/linux/qtplatform.h"
#include "platform/linux/qtsound.h"
#include "platform/linux/qttray.h"

namespace {

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
