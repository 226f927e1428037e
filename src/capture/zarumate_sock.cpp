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

constexpr std::size_t kInitialReceiveBufferSize = 4096;
constexpr std::size_t kSmallestGrownBufferSize = 1024;
constexpr std::size_t kLargestGrowableBufferSize = 0x3FFFFFFF;

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
    PreparePageHandler();
}

int CZarumateSock::Run()
{
    CaptureRun();
    if (m_client)
        m_client->OnSockStopped();
    return 0;
}

bool CZarumateSock::NextReceiveBufferSize(std::size_t current, std::size_t& next)
{
    if (current > kLargestGrowableBufferSize)
        return false;
    next = current < kSmallestGrownBufferSize ? kSmallestGrownBufferSize : current * 2;
    return true;
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

int CZarumateSock::Receive(CCaptureSocket& socket, std::size_t& received, bool& got)
{
    received = 0;
    got = false;
    for (;;) {
        std::size_t size = 0;
        bool available = false;
        if (int err = socket.PeekDatagramSize(size, available))
            return err;
        if (!available)
            return 0;
        // The buffer grows before the datagram is read, by the usual steps,
        // so no datagram is ever lost to a small buffer: a lost segment would
        // stall its TCP stream for good.
        while (size > m_receiveBuffer.size()) {
            std::size_t next = 0;
            if (!NextReceiveBufferSize(m_receiveBuffer.size(), next))
                return EMSGSIZE;
            m_receiveBuffer.resize(next);
        }
        int err =
            socket.ReceiveDatagram(m_receiveBuffer.data(), m_receiveBuffer.size(), received, got);
        if (err == EMSGSIZE) {
            std::size_t next = 0;
            if (!NextReceiveBufferSize(m_receiveBuffer.size(), next))
                return EMSGSIZE;
            m_receiveBuffer.resize(next);
            continue;
        }
        if (err || got)
            return err;
        // A frame the filter would have dropped, queued before it was set.
    }
}

void CZarumateSock::CaptureRun()
{
    m_adapterIndex = 0;
    m_err.Clear();
    m_kernelDrops.store(0);

    CCaptureSocket socket;
    if (int err = socket.Open()) {
        m_err.SetErr(kMsgSocketCreateFailed, GetSocketErrorText(err));
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
        m_err.SetErr(kMsgNoAdapter);
        return;
    }

    // The last adapter of that exact name; the first one when none has it.
    for (int i = 0; i < m_adapterCount; ++i) {
        if (m_adapterList[i] == m_adapterName)
            m_adapterIndex = i;
    }

    if (int err = socket.Bind(adapters[m_adapterIndex].m_interfaceIndex)) {
        m_err.SetErr(kMsgBindFailed, GetSocketErrorText(err));
        return;
    }
    if (int err = socket.SetNonBlocking()) {
        m_err.SetErr(kMsgNonBlockingFailed, GetSocketErrorText(err));
        return;
    }
    if (int err = socket.SetIpv4Filter()) {
        m_err.SetErr(kMsgFilterFailed, GetSocketErrorText(err));
        return;
    }

    m_receiveBuffer.assign(kInitialReceiveBufferSize, 0);
    if (m_client)
        m_client->OnSockStarted();

    std::uint64_t drops = 0;
    while (!IsStopRequested()) {
        std::size_t received = 0;
        bool got = false;
        if (int err = Receive(socket, received, got)) {
            m_err.SetErr(kMsgReceiveFailed, GetSocketErrorText(err));
            break;
        }
        if (!got) {
            // Nothing waits: a quiet moment to update the drop count, then
            // wait for traffic, never so long that a stop request goes unseen.
            if (socket.ReadKernelDrops(drops) == 0)
                m_kernelDrops.store(drops);
            bool ready = false;
            if (int err = socket.WaitForDatagram(kIdleWaitMs, ready)) {
                m_err.SetErr(kMsgReceiveFailed, GetSocketErrorText(err));
                break;
            }
            continue;
        }
        SetClock(MonotonicMs());
        if (m_datagramTap)
            m_datagramTap(m_receiveBuffer.data(), received);
        IpDatagramIn(m_receiveBuffer.data(), received);
    }

    if (socket.ReadKernelDrops(drops) == 0)
        m_kernelDrops.store(drops);
    m_receiveBufferSize = m_receiveBuffer.size();
    m_receiveBuffer = {};
}

} // namespace zk
