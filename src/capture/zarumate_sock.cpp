#include "capture/zarumate_sock.h"

namespace zk {

CZarumateSock::CZarumateSock()
{
    PreparePageHandler();
}

int CZarumateSock::Run()
{
    CaptureRun();
    if (m_client)
        m_client->OnSockStopped();
    return 0;
}

// Placeholder until the capture socket exists.
void CZarumateSock::CaptureRun()
{
    m_adapterIndex = 0;
}

} // namespace zk
