#pragma once
// How a desktop's panel looks to the user: the screen's scale (2 on a high-density screen,
// where every program of the session draws twice as large) and the panel's background colour,
// as a user sets them in the desktop's own settings. The default is each host's own look.

#include <QColor>
#include <QString>
#include <QStringList>

struct CPanelLook {
    int nScale = 1;
    QColor background;  // invalid: the host's own colour

    // What every program of a session at that scale has in its environment: Qt's and GTK's
    // own scale settings, as a desktop sets them on a high-density screen.
    QStringList Environment() const {
        if (nScale == 1) return {};
        const QString strScale = QString::number(nScale);
        return {"QT_SCALE_FACTOR=" + strScale, "GDK_SCALE=" + strScale};
    }
};
