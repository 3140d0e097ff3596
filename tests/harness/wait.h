#pragma once
// How the desktop tests wait: a desktop answers in its own time, so they poll what they look
// at and sleep between looks. Linux only: on Windows Sleep is the system's own.

#include <QThread>

inline void Sleep(int nMs) { QThread::msleep(static_cast<unsigned long>(nMs)); }
