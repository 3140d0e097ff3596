// The keep-alive cycle: one probe round per tick of timer 1.

#include "logic/keepalivedlg.h"
#include "res/resource.h"

namespace {

// Echo requests to one server before it counts as silent.
constexpr int kTriesPerServer = 3;

}  // namespace

void CKeepAliveDlg::OnTimer(UINT_PTR /*nIDEvent*/) {
    // The timer is one-shot in effect: the delay counts from the end of one round to the
    // next tick, and a tick never starts inside another.
    KillTimer(ID_PING_TIMER);
    if (!m_bCycling) {
        SetTrayIcon(IDI_IDLE);
        return;
    }
    if (m_lbServers.GetCount() == 0) {
        m_bCycling = FALSE;
        SetTrayIcon(IDI_IDLE);
        return;
    }
    ++m_nCurrent;
    if (m_nCurrent >= m_lbServers.GetCount() || m_nCurrent < 0) m_nCurrent = 0;

    SetTrayIcon(IDI_PINGING);
    const int nStart = m_nCurrent;
    // A box shown by a probe keeps messages flowing: a tray click may stop the cycle (or
    // Exit may close the window) meanwhile, and then this round ends at once.
    auto stillCycling = [this] { return m_bCycling && IsWindow(); };
    auto probe = [this](int nIndex) {
        CString strServer;
        return m_lbServers.GetText(nIndex, strServer) != LB_ERR && TryPing(strServer) >= 0;
    };

    bool answered = probe(m_nCurrent);
    while (!answered && stillCycling()) {
        for (int nTry = 1; nTry < kTriesPerServer && !answered && stillCycling(); ++nTry)
            answered = probe(m_nCurrent);
        if (answered || !m_bCycleOnNoContact || !stillCycling()) break;
        // On to the next server, until every one has had its turn; the cursor then rests
        // on the start entry, so the next tick begins after it.
        if (++m_nCurrent >= m_lbServers.GetCount()) m_nCurrent = 0;
        if (m_nCurrent == nStart) break;
        answered = probe(m_nCurrent);
    }

    // A cycle stopped during the round stays stopped, showing the idle picture it was given.
    if (!stillCycling()) return;
    SetTrayIcon(IDI_MAIN);
    SetTimer(ID_PING_TIMER, static_cast<UINT>(m_nDelay) * 1000u);
}
