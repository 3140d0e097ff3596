#pragma once
// The program's sound clips, played in the background with Qt Multimedia.

#include <memory>

class QSoundEffect;

class CQtSound {
public:
    CQtSound();
    ~CQtSound();
    CQtSound(const CQtSound&) = delete;
    CQtSound& operator=(const CQtSound&) = delete;

    // Starts the named clip (compared case-insensitively) from its beginning, even while it is
    // still playing, and returns at once. False when the program has no clip of that name.
    // Without an audio device the clip plays silently: no error, no wait.
    bool Play(const char* pszName);

private:
    // Made on the first request, so a run with the sound off never opens the audio system.
    std::unique_ptr<QSoundEffect> m_pSonar;
};

// The sound lives in a module of its own, loaded on the first request: the multimedia
// libraries it needs cost an idle program with the sound off nothing. These are its entry
// points. The player holds Qt Multimedia's resources, so its owner must destroy it while the
// application object still exists: never from an exit handler, where the toolkit's own
// globals may already be gone.
extern "C" {
using PFN_QvSoundCreate = CQtSound* (*)();
using PFN_QvSoundPlay = bool (*)(CQtSound* pSound, const char* pszName);
using PFN_QvSoundDestroy = void (*)(CQtSound* pSound);
}
inline constexpr char kSoundModuleName[] = "quorvane_sound";
inline constexpr char kSoundCreateEntry[] = "QvSoundCreate";
inline constexpr char kSoundPlayEntry[] = "QvSoundPlay";
inline constexpr char kSoundDestroyEntry[] = "QvSoundDestroy";
