#include "platform/linux/qtsound.h"

#include <strings.h>

#include <QSoundEffect>
#include <QUrl>
#include <new>

namespace {

constexpr char kSonarName[] = "SonarSound";
constexpr char kSonarUrl[] = "qrc:/sounds/SonarSound.wav";

}  // namespace

CQtSound::CQtSound() = default;
CQtSound::~CQtSound() = default;

bool CQtSound::Play(const char* pszName) {
    if (pszName == nullptr || strcasecmp(pszName, kSonarName) != 0) return false;
    if (!m_pSonar) {
        m_pSonar = std::make_unique<QSoundEffect>();
        // Loads in the background; a play asked for meanwhile starts once it is loaded.
        m_pSonar->setSource(QUrl(QString::fromLatin1(kSonarUrl)));
    }
    // A new request starts the clip over rather than waiting for the last one to end.
    m_pSonar->stop();
    m_pSonar->play();
    return true;
}

extern "C" Q_DECL_EXPORT CQtSound* QvSoundCreate() { return new (std::nothrow) CQtSound; }

extern "C" Q_DECL_EXPORT bool QvSoundPlay(CQtSound* pSound, const char* pszName) {
    return pSound != nullptr && pSound->Play(pszName);
}

extern "C" Q_DECL_EXPORT void QvSoundDestroy(CQtSound* pSound) { delete pSound; }
