// The longest the window's thread stands still while the friend list is
// autosaved at a hundred thousand friends (the goal is one frame, 16 ms):
// the main frame runs on the in-memory window system with a list file of
// that size in a temporary data folder; each round makes one change, lets
// the autosave come due and times every timer tick until the file is
// written. For comparison it also times the whole write, which the window
// used to wait for.
//
//   zk-bench-autosave [FRIENDS] [ROUNDS]     defaults 100000 and 5

#include "app/main_frame.h"
#include "friends/setting.h"
#include "friends/zarumate_list_file.h"
#include "platform/system_clock.h"
#include "platform/text_convert.h"
#include "support/fake_window_system.h"
#include "support/offscreen_gui.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace zk;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time of this thread: a tick that stood still because
// another program had the processor shows a long wall time but a short
// one here.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The capture thread and the image pool stand still: only the list moves.
class CIdleCapture : public ICaptureThread
{
public:
    bool Start() override { return true; }
    void Wait(unsigned) override {}
    void SetStop(bool) override {}
    void SetTerminate(bool terminate) override { m_terminate = terminate; }
    bool IsTerminating() const override { return m_terminate; }
    void SetClient(CZarumateSockClient* client) override { m_client = client; }
    void SetAdapterName(const std::wstring&) override {}
    void SetTlsKeyLogFile(const std::string&) override {}
    int GetAdapterIndex() const override { return 0; }
    const std::vector<std::wstring>& GetAdapterList() const override { return m_adapters; }
    EMonitorFailure GetFailureCause() const override { return EMonitorFailure::None; }
    std::wstring GetFailureText() const override { return {}; }

    bool m_terminate = false;
    CZarumateSockClient* m_client = nullptr;
    std::vector<std::wstring> m_adapters{L"eth0"};
};

class CIdlePool : public IImagePool
{
public:
    void PushTask(std::shared_ptr<CDownloadImageTask>) override {}
    bool StartAll() override { return true; }
    void SetShutdown(bool) override {}
    void WaitAll(unsigned) override {}
};

} // namespace

int main(int argc, char** argv)
{
    long friends = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    namespace fs = std::filesystem;
    std::string base = (fs::temp_directory_path() / "zk-bench-autosave-XXXXXX").string();
    if (!::mkdtemp(base.data()))
        return 1;
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
        ::setenv(name, (base + "/" + name).c_str(), 1);

    test::EnsureOffscreenGui();
    test::CFakeWindowSystem system;
    {
        // Ids and names as long as the portal's.
        CZarumateDataList list;
        for (long i = 0; i < friends; ++i) {
            auto record = std::make_shared<CZarumateData>();
            record->m_id = L"friend" + std::to_wstring(i);
            record->m_name = L"ともだち" + std::to_wstring(i);
            record->m_updateTime = GetSystemTimeUtc();
            list.PushBack(record);
        }
        CSimpleErr err;
        auto start = Clock::now();
        if (!SaveList(kDefaultListName, list, err)) {
            std::fprintf(stderr, "cannot write the list: %s\n", WideToUtf8(err.GetText()).c_str());
            return 1;
        }
        std::printf("whole write of %ld friends (what the window used to wait for): %.1f ms\n",
                    friends, MsSince(start));
    }

    CSetting setting;
    std::uint32_t now = 0;
    double worst = 0;
    double startTick = 0;
    double write = 0;
    double idle = 0;
    double worstCpu = 0;
    double copyCpu = 0;
    int ticks = 0;
    int slow = 0;
    {
        auto idleCapture = std::make_unique<CIdleCapture>();
        CIdleCapture& capture = *idleCapture;
        CMainFrame frame(setting, std::move(idleCapture), std::make_unique<CIdlePool>());
        frame.SetClock([&] { return now; });
        if (!frame.CreateMain())
            return 1;
        auto tick = [&] { system.PeerOf(frame)->window->PeerTimer(1); };
        tick();
        // The same ticks without a write, for the machine's own noise.
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kFrameTimerPeriodMs));
            auto one = Clock::now();
            now += kFrameTimerPeriodMs;
            tick();
            idle = std::max(idle, MsSince(one));
        }
        for (int round = 0; round < rounds; ++round) {
            auto person = std::make_shared<CZarumateData>();
            person->m_id = L"friend" + std::to_wstring(round * 7);
            person->m_name = L"また会った";
            capture.m_client->OnZarumateFound(person);
            tick(); // merges, and the autosave becomes due in 30 s
            now += kAutosaveDelayMs;
            auto begun = Clock::now();
            auto one = Clock::now();
            double cpu = ThreadCpuMs();
            tick(); // copies the list and hands it to the saver
            double first = MsSince(one);
            double firstCpu = ThreadCpuMs() - cpu;
            copyCpu = std::max(copyCpu, firstCpu);
            if (first > worst)
                worstCpu = firstCpu;
            startTick = std::max(startTick, first);
            worst = std::max(worst, first);
            while (frame.IsAutosaving()) {
                // The timer's pace: the write shares the machine with the
                // window, not with a loop that spins.
                std::this_thread::sleep_for(std::chrono::milliseconds(kFrameTimerPeriodMs));
                one = Clock::now();
                double cpu = ThreadCpuMs();
                now += kFrameTimerPeriodMs;
                tick();
                double took = MsSince(one);
                if (took > worst)
                    worstCpu = ThreadCpuMs() - cpu;
                worst = std::max(worst, took);
                slow += took >= 16.0;
                if (took >= 16.0)
                    std::printf("slow tick %.1f ms at %.1f ms into the write\n", took,
                                MsSince(begun));
                ++ticks;
            }
            write = std::max(write, MsSince(begun));
        }
        frame.DestroyWindow();
    }
    std::printf("autosave at %ld friends, %d rounds: longest tick %.2f ms (the tick that copies "
                "the list %.2f ms), %d ticks while writing (%d of them 16 ms or more), longest "
                "write %.1f ms; longest tick without a write %.2f ms\n"
                "the longest tick used %.2f ms of processor time on the window's thread, the "
                "longest copy %.2f ms\n",
                friends, rounds, worst, startTick, ticks, slow, write, idle, worstCpu, copyCpu);
    fs::remove_all(base);
    return 0;
}
