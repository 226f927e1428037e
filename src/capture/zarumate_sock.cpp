#include "capture/zarumate_sock.h"

#include "base/message_format.h"
#include "platform/adapter_list.h"
#include "platform/capture_helper.h"
#include "platform/capture_helper_exit.h"
#include "platform/capture_socket.h"
#include "platform/text_convert.h"
#include "platform/thread_priority.h"
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
// The capture helper could not be run: by this user, or at all.
constexpr std::uint32_t kMsgHelperNotAllowed = 4907;
constexpr std::uint32_t kMsgHelperNotStarted = 4908;

// How long the loop waits for the helper's output on a quiet adapter before
// it looks at the stop flag again.
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

// Hands what the helper writes to the decoding chain, on the capture thread.
class CHelperOutput : public CPcapngReader::CHandler
{
public:
    explicit CHelperOutput(CZarumateSock& sock) : m_sock(sock) {}

    void OnInterface() override
    {
        // The helper describes its interface once its socket is bound and
        // it holds no capability any more: the capture runs.
        if (!m_started && m_sock.m_client)
            m_sock.m_client->OnSockStarted();
        m_started = true;
    }

    void OnDatagram(const std::uint8_t* data, std::size_t length) override
    {
        // The datagrams of one read came within a few milliseconds of each
        // other, so they share one reading of the clock: at a few hundred
        // thousand datagrams a second, a reading each is a cost of its own.
        if (!m_clockRead) {
            m_sock.SetClock(MonotonicMs());
            m_clockRead = true;
        }
        if (m_sock.m_datagramTap)
            m_sock.m_datagramTap(data, length);
        m_sock.IpDatagramIn(data, length);
    }

    void OnDrops(std::uint64_t drops) override { m_sock.m_kernelDrops.store(drops); }

    // The next read's datagrams read the clock afresh.
    void OnReadDone() { m_clockRead = false; }

private:
    CZarumateSock& m_sock;
    bool m_started = false;
    bool m_clockRead = false;
};

void CZarumateSock::SetStartError(int err, const std::string& path)
{
    std::wstring program = Utf8ToWide(path);
    std::wstring detail;
    if (err == EACCES || err == EPERM) {
        // The helper is for the members of its group only.
        std::wstring format = LoadString(kMsgHelperNotAllowed);
        detail = FormatMessageText(format, {std::wstring_view(program)},
                                   format.size() + program.size() + CSimpleErr::kFormatSlack);
    } else {
        std::wstring format = LoadString(kMsgHelperNotStarted);
        std::wstring system = GetSocketErrorText(err);
        detail = FormatMessageText(format, {std::wstring_view(program), std::wstring_view(system)},
                                   format.size() + program.size() + system.size() +
                                       CSimpleErr::kFormatSlack);
    }
    m_err.SetErr(kMsgSocketCreateFailed, detail);
    m_failureCause =
        (err == EACCES || err == EPERM) ? EMonitorFailure::Permission : EMonitorFailure::Other;
}

void CZarumateSock::SetHelperEndError(int status, int err)
{
    namespace helper = capture_helper;
    std::uint32_t message = kMsgReceiveFailed;
    switch (status) {
    case helper::kUsage:
    case helper::kSocketFailed:
    case helper::kCapabilitiesFailed:
        message = kMsgSocketCreateFailed;
        break;
    case helper::kFilterFailed:
    case helper::kRingFailed:
        message = kMsgFilterFailed;
        break;
    case helper::kBindFailed:
        message = kMsgBindFailed;
        break;
    case helper::kNonBlockingFailed:
        message = kMsgNonBlockingFailed;
        break;
    case -1:
        // Killed by a signal that was not ours.
        err = EINTR;
        break;
    default:
        break;
    }
    if (err == 0)
        err = status == helper::kUsage ? EINVAL : EIO;
    m_err.SetErr(message, GetSocketErrorText(err));
    m_failureCause = ClassifyFailure(message, err);
}

void CZarumateSock::CaptureRun()
{
    m_adapterIndex = 0;
    m_err.Clear();
    m_failureCause = EMonitorFailure::None;
    m_kernelDrops.store(0);

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

    // The helper holds each ring block until this thread has read it:
    // short turns on the processor bring the thread back soon after the
    // helper writes, even on a busy machine.
    SetCurrentThreadShortTurns();

    // Only the helper opens the packet socket; it is started from this
    // thread, whose end it follows, with the name of a real interface.
    CCaptureHelper helper;
    std::string path = m_helperPath.empty() ? CCaptureHelper::Find() : m_helperPath;
    if (int err = helper.Start(path, adapters[m_adapterIndex].m_name)) {
        SetStartError(err, path);
        return;
    }

    CHelperOutput output(*this);
    while (!IsStopRequested()) {
        // Waits for the helper's output, never so long that a stop request
        // goes unseen.
        bool ended = false;
        int err = helper.Read(kIdleWaitMs, output, ended);
        output.OnReadDone();
        if (err) {
            Fail(kMsgReceiveFailed, err);
            break;
        }
        if (ended) {
            CCaptureHelper::CEnd end = helper.End();
            SetHelperEndError(end.status, end.err);
            break;
        }
        // Records waiting for their keys are retried even when no packet
        // comes: the browser writes the keys after the last of them.
        SetClock(MonotonicMs());
        TlsIdleTurn();
    }
    // Stopped by its parent, the helper has not failed.
    helper.Stop();
}

} // namespace zk
