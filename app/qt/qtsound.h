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
// points.
extern "C" {
using PFN_QvSoundPlay = bool (*)(const char* pszName);
}
inline constexpr char kSoundModuleName[] = "quorvane_sound";
inline constexpr char kSoundPlayEntry[] = "QvSoundPlay";
