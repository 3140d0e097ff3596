#pragma once
// The program's tray pictures as an icon theme of its own, for tray hosts that look a picture
// up by name at the size they draw: GTK's panels (Xfce, waybar) take the largest of the pixels
// an item offers and scale it down, but load a named picture from a theme at their size and
// scale exactly.

#include <QString>

#include "base/wintypes.h"

// Writes every picture of the program's resources, at the theme's status sizes at scale 1 and
// 2, into a folder of the user's private runtime directory (the files are replaced whole, so
// a host never reads half of one, and two instances write the same bytes). Returns the folder
// to announce as the theme path, or empty when it cannot be written: the pixels alone then.
QString ExportIconTheme(const QString& strAppName);

// The name a picture has in that theme.
QString IconThemeName(const QString& strAppName, UINT nResourceId);
