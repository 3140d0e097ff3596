#pragma once
// The tray pictures as a desktop test reads them from a host's pixels, shared by the X11 and
// the Wayland desktop tests.

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdlib>

#include "harness/wait.h"

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

// An area on the screen, as a failure reports it.
inline QString Describe(const QRect& area) {
    return QStringLiteral("%1,%2 %3x%4")
        .arg(area.x())
        .arg(area.y())
        .arg(area.width())
        .arg(area.height());
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

// The entries of a menu that came up between two looks at the same area, top down, in the
// area's coordinates: the bands of rows where text stands out from the menu's own colour,
// within what changed. What changes in ignore (the icon, its button) is not the menu.
inline QList<QRect> MenuEntries(const QImage& before, const QImage& after, const QRect& ignore) {
    if (before.isNull() || before.size() != after.size()) return {};
    QRect menu;
    QMap<QRgb, int> colours;
    for (int y = 0; y < after.height(); ++y) {
        for (int x = 0; x < after.width(); ++x) {
            if (ignore.contains(x, y) || after.pixel(x, y) == before.pixel(x, y)) continue;
            menu |= QRect(x, y, 1, 1);
            ++colours[after.pixel(x, y)];
        }
    }
    if (menu.width() < 40 || menu.height() < 10) return {};
    // Its colour: the commonest of what changed.
    QRgb background = 0;
    int nMost = 0;
    for (auto it = colours.cbegin(); it != colours.cend(); ++it) {
        if (it.value() > nMost) {
            nMost = it.value();
            background = it.key();
        }
    }
    const auto isText = [&](QRgb pixel) {
        return std::abs(qRed(pixel) - qRed(background)) +
                   std::abs(qGreen(pixel) - qGreen(background)) +
                   std::abs(qBlue(pixel) - qBlue(background)) >
               150;
    };
    // A row of text has a few such pixels; a border or a separator line spans the menu.
    QList<QRect> entries;
    int nTop = -1, nLast = -1;
    for (int y = menu.top(); y <= menu.bottom() + 1; ++y) {
        int nText = 0;
        for (int x = menu.left(); y <= menu.bottom() && x <= menu.right(); ++x)
            nText += isText(after.pixel(x, y));
        const bool bText = nText >= 2 && nText < menu.width() * 3 / 4;
        if (bText) {
            if (nTop < 0) nTop = y;
            nLast = y;
        } else if (nTop >= 0 && (y - nLast > 2 || y > menu.bottom())) {
            // Taller than a stray line: text.
            if (nLast - nTop >= 4)
                entries << QRect(menu.left(), nTop, menu.width(), nLast - nTop + 1);
            nTop = -1;
        }
    }
    return entries;
}

// Whether two reads of one area agree everywhere but in ignore.
inline bool Unchanged(const QImage& before, const QImage& after, const QRect& ignore) {
    if (before.isNull() || before.size() != after.size()) return false;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (!ignore.contains(x, y) && after.pixel(x, y) != before.pixel(x, y)) return false;
    return true;
}

// The screen once it holds still: two reads 100 ms apart that differ only in ignore (what
// changes on its own). A null picture if it never does within nTimeoutMs.
template <typename Grab>
QImage SteadyScreen(Grab grab, const QRect& ignore, int nTimeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QImage last = grab();
    while (clock.elapsed() < nTimeoutMs) {
        Sleep(100);
        const QImage now = grab();
        if (Unchanged(last, now, ignore)) return now;
        last = now;
    }
    return {};
}

// The entries of a menu a click has just opened, once it stands still: hosts slide and fade
// their menus in, and an entry read half-way is not where the next click finds it. grab reads
// the area as before was read; at least nMin entries, the same in two reads 100 ms apart.
template <typename Grab>
QList<QRect> SteadyMenuEntries(const QImage& before, Grab grab, const QRect& ignore, int nMin,
                               int nTimeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QList<QRect> last;
    while (clock.elapsed() < nTimeoutMs) {
        const QList<QRect> entries = MenuEntries(before, grab(), ignore);
        if (entries.size() >= nMin && entries == last) return entries;
        last = entries;
        Sleep(100);
    }
    return last.size() >= nMin ? last : QList<QRect>();
}
