#include "qt/qtsound.h"

#include <strings.h>

#include <QSoundEffect>
#include <QUrl>

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

// One player for the process, made on the first request and gone with the module.
extern "C" Q_DECL_EXPORT bool QvSoundPlay(const char* pszName) {
    static CQtSound sound;
    return sound.Play(pszName);
}
