#pragma once
// The Qt application behind the window layer: made once in main(), before anything else.

#include <QApplication>
#include <memory>

class CQtHost {
public:
    // Opens the display; with none to be had, says so in one line on stderr and goes on
    // without windows, so the keep-alive cycle still runs on a headless machine.
    CQtHost(int& argc, char** argv, const char* pszName, const char* pszVersion);

    bool HasDisplay() const { return m_bHasDisplay; }

private:
    std::unique_ptr<QApplication> m_app;
    bool m_bHasDisplay = true;
};
