#include "capture/zarumate_sock.h"

#include "base/message_format.h"
#include "platform/adapter_list.h"
#include "platform/capture_socket.h"
#include "platform/text_convert.h"
#include "res/string_table.h"

#include <cerrno>
#include <chrono>

namespace zk {
namespace {

// Messages of the capture run; each takes the text of a socket error.
constexpr std::uint32_t kMsgSocketCreateFailed = 4002;
constexpr std::uint32_t kMsgNoAdapter = 4004; // no detail
constexpr std::uint32_t kMsgBindFailed = 4005;
constexpr std::uint32_t kMsgNonBlockingFailed = 4006;
constexpr std::uint32_t kMsgFilterFailed = 4007;
constexpr std::uint32_t kMsgReceiveFailed = 4008;

// Texts of socket errors that have one of their own.
constexpr std::uint32_t kMsgUnknownSocketError = 4900; // with the number
constexpr std::uint32_t kMsgOutOfMemory = 4902;
constexpr std::uint32_t kMsgInvalidParameter = 4903;
constexpr std::uint32_t kMsgInterrupted = 4904;
constexpr std::uint32_t kMsgTimedOut = 4905;
constexpr std::uint32_t kMsgPending = 4906;

// How long the loop waits for traffic on a quiet adapter before it looks at
// the stop flag again.
constexpr int kIdleWaitMs = 100;

std::uint64_t MonotonicMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

CZarumateSock::CZarumateSock()
{
    // Normal priority, not idle like the program's other threads: on a busy
    // machine an idle capture thread is starved by the very traffic it
    // watches, and the kernel drops what does not fit its ring.
    m_priority = THREAD_PRIORITY_NORMAL;
    PreparePageHandler();
}

int CZarumateSock::Run()
{
    CaptureRun();
    if (m_client)
        m_client->OnSockStopped();
    return 0;
}

std::wstring CZarumateSock::GetSocketErrorText(int err)
{
    switch (err) {
    case ENOMEM:
        return LoadString(kMsgOutOfMemory);
    case EINVAL:
        return LoadString(kMsgInvalidParameter);
    case EINTR:
        return LoadString(kMsgInterrupted);
    case ETIMEDOUT:
        return LoadString(kMsgTimedOut);
    case EINPROGRESS:
        return LoadString(kMsgPending);
    default:
        break;
    }
    if (IsKnownSystemError(err))
        return GetErrnoText(err);
    std::wstring format = LoadString(kMsgUnknownSocketError);
    return FormatMessageText(format, {static_cast<long long>(err)},
                             format.size() + CSimpleErr::kFormatSlack);
}

EMonitorFailure CZarumateSock::ClassifyFailure(std::uint32_t messageId, int err)
{
    if (messageId == kMsgNoAdapter)
        return EMonitorFailure::NoAdapter;
    switch (err) {
    case EPERM:
    case EACCES:
        return EMonitorFailure::Permission;
    // The adapter was removed, or is of a kind that cannot be bound.
    case ENODEV:
    case ENXIO:
    case ENETDOWN:
    case EADDRNOTAVAIL:
        return messageId == kMsgSocketCreateFailed ? EMonitorFailure::Other
                                                   : EMonitorFailure::AdapterMissing;
    default:
        return EMonitorFailure::Other;
    }
}

void CZarumateSock::Fail(std::uint32_t messageId, int err)
{
    if (messageId == kMsgNoAdapter)
        m_err.SetErr(messageId);
    else
        m_err.SetErr(messageId, GetSocketErrorText(err));
    m_failureCause = ClassifyFailure(messageId, err);
}

void CZarumateSock::CaptureRun()
{
    m_adapterIndex = 0;
    m_err.Clear();
    m_failureCause = EMonitorFailure::None;
    m_kernelDrops.store(0);

    CCaptureSocket socket;
    if (int err = socket.Open()) {
        Fail(kMsgSocketCreateFailed, err);
        return;
    }

    // A failed enumeration leaves no adapters and ends like an empty one.
    std::vector<CNetworkAdapter> adapters;
    ListNetworkAdapters(adapters);
    m_adapterList.clear();
    for (const CNetworkAdapter& adapter : adapters)
        m_adapterList.push_back(Utf8ToWide(adapter.m_name));
    m_adapterCount = static_cast<int>(m_adapterList.size());
    if (m_adapterCount == 0) {
        Fail(kMsgNoAdapter, 0);
        return;
    }

    // The last adapter of that exact name; the first one when none has it.
    for (int i = 0; i < m_adapterCount; ++i) {
        if (m_adapterList[i] == m_adapterName)
            m_adapterIndex = i;
    }

    // The filter and the ring come before the bind, so that nothing is
    // queued outside the ring before they are in place.
    if (int err = socket.SetTcpFilter()) {
        Fail(kMsgFilterFailed, err);
        return;
    }
    if (int err = socket.SetUpRing()) {
        Fail(kMsgFilterFailed, err);
        return;
    }
    if (int err = socket.Bind(adapters[m_adapterIndex].m_interfaceIndex)) {
        Fail(kMsgBindFailed, err);
        return;
    }
    if (int err = socket.SetNonBlocking()) {
        Fail(kMsgNonBlockingFailed, err);
        return;
    }

    if (m_client)
        m_client->OnSockStarted();

    std::uint64_t drops = 0;
    while (!IsStopRequested()) {
        // Waits for the kernel to hand over a block, never so long that a
        // stop request goes unseen.
        bool ready = false;
        if (int err = socket.WaitForBlock(kIdleWaitMs, ready)) {
            Fail(kMsgReceiveFailed, err);
            break;
        }
        if (ready) {
            // A block is handed over within a few milliseconds of its first
            // datagram, so its datagrams share one reading of the clock.
            SetClock(MonotonicMs());
            const std::uint8_t* data = nullptr;
            std::size_t length = 0;
            while (socket.NextDatagram(data, length)) {
                if (m_datagramTap)
                    m_datagramTap(data, length);
                IpDatagramIn(data, length);
            }
            // The chain keeps no pointer into the block, so it can go back.
            socket.ReleaseBlock();
        }
        // Records waiting for their keys are retried even when no packet
        // comes: the browser writes the keys after the last of them.
        SetClock(MonotonicMs());
        TlsIdleTurn();
        if (socket.ReadKernelDrops(drops) == 0)
            m_kernelDrops.store(drops);
    }

    if (socket.ReadKernelDrops(drops) == 0)
        m_kernelDrops.store(drops);
}

} // namespace zk
