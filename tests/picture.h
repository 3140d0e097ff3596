#pragma once
// The tray pictures as a desktop test reads them from a host's pixels, shared by the X11 and
// the Wayland desktop tests.

#include <QPoint>
#include <QRect>
#include <QThread>

inline void Sleep(int nMs) { QThread::msleep(static_cast<unsigned long>(nMs)); }

// The tray pictures, told apart by their colours: the waiting disc is dark green with a
// bright sweep, the probing one the other way round, the idle one has a red badge.
enum class EPicture { None, Idle, Waiting, Probing };

inline const char* NameOf(EPicture picture) {
    switch (picture) {
        case EPicture::Idle:
            return "idle";
        case EPicture::Waiting:
            return "waiting";
        case EPicture::Probing:
            return "probing";
        default:
            return "none";
    }
}

// A picture's pixels counted by the colours that tell the tray pictures apart, and where they
// are.
class CPictureCount {
public:
    void Add(int r, int g, int b, const QPoint& at) {
        const bool bBright = r < 100 && b < 100 && g > 200;
        const bool bDark = r < 70 && b < 70 && g > 90 && g < 170;
        const bool bRed = r > 180 && g < 90 && b < 90;
        m_nBright += bBright;
        m_nDark += bDark;
        m_nRed += bRed;
        if (bBright || bDark || bRed) m_area |= QRect(at, QSize(1, 1));
    }
    EPicture Picture() const {
        if (m_nRed > 4) return EPicture::Idle;
        if (m_nBright > 2 * m_nDark) return EPicture::Probing;
        if (m_nDark > 2 * m_nBright) return EPicture::Waiting;
        return EPicture::None;
    }
    // Around the pixels of the icon's colours.
    QRect Area() const { return m_area; }

private:
    int m_nBright = 0;
    int m_nDark = 0;
    int m_nRed = 0;
    QRect m_area;
};

