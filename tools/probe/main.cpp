// zarumatekit-probe: the program's command-line companion. It lists the
// adapters, watches one of them live or reads a capture file through the
// same decoder the program runs, and prints every person found.

#include "capture/zarumate_sock.h"
#include "platform/adapter_list.h"
#include "platform/result_code.h"
#include "platform/text_convert.h"
#include "probe/capture_file.h"
#include "probe/probe_features.h"
#include "probe/probe_options.h"

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zk {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// How often the waiting main thread looks at the run and the clock.
constexpr long kWatchTurnMs = 50;

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "zarumatekit-probe: %s\n", text.c_str());
}

void PrintError(const std::wstring& text)
{
    PrintError(WideToUtf8(text));
}

// Receives the capture thread's reports (and, for a capture file, the
// decoder's on the main thread) and prints them as they come.
class CProbeReporter : public CZarumateSockClient
{
public:
    CProbeReporter(const CZarumateSock& sock, CProbeListSession* session)
        : m_sock(sock), m_session(session)
    {}

    void OnSockStarted() override
    {
        int index = m_sock.GetAdapterIndex();
        const auto& names = m_sock.GetAdapterList();
        std::string name =
            index >= 0 && index < static_cast<int>(names.size()) ? WideToUtf8(names[index]) : "";
        std::lock_guard<std::mutex> guard(m_output);
        std::printf("monitoring %s\n", name.c_str());
        std::fflush(stdout);
    }

    void OnZarumateFound(const CZarumateDataPtr& data) override
    {
        if (!data)
            return;
        {
            std::lock_guard<std::mutex> guard(m_output);
            std::printf("%s\t%s\n", PrintableText(data->m_id).c_str(),
                        PrintableText(data->m_name).c_str());
            std::fflush(stdout);
        }
        if (m_session)
            m_session->OnFound(data);
    }

private:
    const CZarumateSock& m_sock;
    CProbeListSession* m_session;
    std::mutex m_output;
};

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The --stats line. Kernel drops exist only for a live capture.
void PrintStats(const CZarumateSock& sock, double seconds, const std::uint64_t* kernelDrops)
{
    const CDecodeStats& stats = sock.GetDecodeStats();
    std::string line =
        "packets=" + std::to_string(stats.m_packets) + " bytes=" + std::to_string(stats.m_bytes);
    char secondsText[32];
    std::snprintf(secondsText, sizeof secondsText, "%.3f", seconds);
    line += std::string(" seconds=") + secondsText;
    line += " streams=" + std::to_string(stats.m_streams) +
            " peak_streams=" + std::to_string(stats.m_peakStreams) +
            " buffered_bytes=" + std::to_string(stats.BufferedBytes());
    // Pages sent with content codings: responses decoded per coding, and
    // those given up.
    static const char* const codingNames[] = {"gzip", "deflate", "br", "zstd"};
    static_assert(std::size(codingNames) == static_cast<std::size_t>(EContentCoding::Count));
    for (std::size_t i = 0; i < std::size(codingNames); ++i)
        line += std::string(" ") + codingNames[i] + "=" + std::to_string(stats.m_codedResponses[i]);
    line += " codings_corrupt=" + std::to_string(stats.m_codingsCorrupt) +
            " codings_unknown=" + std::to_string(stats.m_codingsUnknown);
    line += " codings_capped=" + std::to_string(stats.m_codingsCapped);
    line += " ipv6=" + std::to_string(stats.m_ipv6Packets) +
            " fragments_overlapping=" + std::to_string(stats.m_fragmentsOverlapping);
    // HTTP/2: connections, response streams, connections whose header
    // state was lost.
    line += " http2_connections=" + std::to_string(stats.m_http2Connections) +
            " http2_streams=" + std::to_string(stats.m_http2Streams) +
            " http2_lost=" + std::to_string(stats.m_http2HeaderStateLost);
    line += " ids_refused=" + std::to_string(stats.m_idsRefused);
    if (kernelDrops)
        line += " kernel_drops=" + std::to_string(*kernelDrops);
    // TLS connections: seen, read, given up for want of keys or for a record
    // that did not open, and not read (other sites; hidden names).
    line += " tls_connections=" + std::to_string(stats.m_tlsConnections) +
            " tls_decrypted=" + std::to_string(stats.m_tlsDecrypted) +
            " tls_without_keys=" + std::to_string(stats.m_tlsWithoutKeys) +
            " tls_failed=" + std::to_string(stats.m_tlsFailed) +
            " tls_skipped=" + std::to_string(stats.m_tlsSkipped) +
            " tls_ech=" + std::to_string(stats.m_tlsEch);
    std::fprintf(stderr, "%s\n", line.c_str());
}

int ListAdapters()
{
    std::vector<CNetworkAdapter> adapters;
    if (int err = ListNetworkAdapters(adapters)) {
        PrintError(CZarumateSock::GetSocketErrorText(err));
        return kExitFailure;
    }
    for (const CNetworkAdapter& adapter : adapters)
        std::printf("%s\n", adapter.m_name.c_str());
    return kExitSuccess;
}

// Waits until the run ends by itself, the time is up or SIGINT or SIGTERM
// arrives. The signals are blocked in every thread and taken here, so the
// capture thread is never interrupted and the run always ends cleanly.
void WaitForEndOfRun(const CZarumateSock& sock, const sigset_t& signals,
                     std::optional<unsigned> seconds)
{
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::seconds(seconds.value_or(0));
    while (!sock.IsFinished()) {
        long turnMs = kWatchTurnMs;
        if (seconds) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                return;
            if (left < turnMs)
                turnMs = static_cast<long>(left);
        }
        timespec turn{turnMs / 1000, (turnMs % 1000) * 1000000};
        if (sigtimedwait(&signals, nullptr, &turn) > 0)
            return;
    }
}

// The shared start and end of every run that decodes traffic: the friend
// list session of --save around the run, and the statistics line after it.
class CProbeRun
{
public:
    explicit CProbeRun(const CProbeOptions& options)
        : m_options(options), m_reporter(m_sock, options.m_save ? &m_session : nullptr)
    {
        m_sock.SetClient(&m_reporter);
        m_sock.SetTlsKeyLogFile(options.m_keyLog);
    }

    bool Begin()
    {
        std::wstring error;
        if (m_options.m_save && !m_session.Begin(error)) {
            PrintError(error);
            return false;
        }
        m_start = std::chrono::steady_clock::now();
        return true;
    }

    int End(bool succeeded, const std::uint64_t* kernelDrops)
    {
        if (m_options.m_stats)
            PrintStats(m_sock, SecondsSince(m_start), kernelDrops);
        std::wstring error;
        if (m_options.m_save && !m_session.End(m_options.m_avatars, error)) {
            PrintError(error);
            succeeded = false;
        }
        return succeeded ? kExitSuccess : kExitFailure;
    }

    CZarumateSock& Sock() { return m_sock; }

private:
    const CProbeOptions& m_options;
    CZarumateSock m_sock;
    CProbeListSession m_session;
    CProbeReporter m_reporter;
    std::chrono::steady_clock::time_point m_start;
};

int RunLive(const CProbeOptions& options)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CProbeRun run(options);
    if (!run.Begin())
        return kExitFailure;
    CZarumateSock& sock = run.Sock();
    sock.SetAdapterName(Utf8ToWide(options.m_adapter));
    if (!sock.Start()) {
        PrintError("the capture thread could not be started");
        return run.End(false, nullptr);
    }
    WaitForEndOfRun(sock, signals, options.m_seconds);
    sock.SetTerminate(true);
    sock.Wait();
    // The thread has ended; records still waiting for keys get a last look.
    sock.EndTls();

    bool succeeded = !sock.GetErr().HasErr();
    if (!succeeded)
        PrintError(sock.GetErr().GetText());
    std::uint64_t drops = sock.GetKernelDrops();
    return run.End(succeeded, &drops);
}

// Runs a capture file through the decoder, with the packets' own times as
// the decoder's clock; the capture thread is not started.
int RunFile(const CProbeOptions& options)
{
    CProbeRun run(options);
    if (!run.Begin())
        return kExitFailure;
    CZarumateSock& sock = run.Sock();
    std::string error;
    bool succeeded = ReadCaptureFile(
        options.m_file,
        [&sock](const std::uint8_t* ip, std::size_t length, std::uint64_t timeMs) {
            sock.SetClock(timeMs);
            sock.IpDatagramIn(ip, length);
            sock.TlsIdleTurn();
        },
        error);
    sock.EndTls();
    if (!succeeded)
        PrintError(error);
    return run.End(succeeded, nullptr);
}

int ProbeMain(const std::vector<std::string>& args)
{
    CProbeOptions options;
    std::string error;
    if (!ParseProbeOptions(args, options, error)) {
        PrintError(error);
        std::fputs(GetProbeUsage(), stderr);
        return kExitUsage;
    }
    switch (options.m_mode) {
    case CProbeMode::ListAdapters:
        return ListAdapters();
    case CProbeMode::Live:
        return RunLive(options);
    case CProbeMode::File:
        return RunFile(options);
    case CProbeMode::Thumbnails:
        return RunThumbnails(Utf8ToWide(options.m_directory));
    }
    return kExitUsage;
}

} // namespace
} // namespace zk

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    return zk::ProbeMain(std::vector<std::string>(argv + 1, argv + argc));
}
