#pragma once
// The application object: start-up, the message loop and shut-down.

#include "base/wintypes.h"

class CPlatform;
class CWnd;

constexpr UINT ID_HELP = 0xE146;

// The text of a string resource: the program's string table, which holds the framework's
// messages too; empty for an unknown id. Each backend reads the table of its platform.
CString AfxLoadString(UINT nID);

class CWinApp {
public:
    explicit CWinApp(CPlatform& platform) : m_platform(platform) {}
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // Commands sent to the application; TRUE when handled.
    virtual BOOL OnCmdMsg(UINT nID);

    CWnd* m_pMainWnd = nullptr;

protected:
    // The framework's help: the program ships no help file, so there is nothing to open.
    void OnHelp() {}

    CPlatform& m_platform;
};

// Runs the application: InitInstance, then the message loop until the main window is
// destroyed, then ExitInstance. When InitInstance fails the main window (if any) is destroyed
// and the process ends with 0. Returns the process exit code.
int AfxWinMain(CWinApp& app);
