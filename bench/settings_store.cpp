// Times the settings store: a whole SaveSettings (every value and key the
// program keeps), a whole LoadSettings, and one query of a value, with the
// store's own count of parses and writes for each. The store lives in a
// temporary $XDG_CONFIG_HOME, removed at the end.
//
//   zk-bench-settings [ROUNDS]     ROUNDS defaults to 50

#include "friends/setting.h"
#include "platform/registry_store.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace {

using namespace zk;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultRounds = 50;
constexpr int kQueriesPerRound = 100;

// Runs the work `rounds` times; prints the mean time and the store's work
// per run.
void Measure(const char* what, int rounds, const std::function<void()>& work)
{
    CRegStoreCounts before = GetRegistryStoreCounts();
    Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        work();
    double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    CRegStoreCounts after = GetRegistryStoreCounts();
    std::printf("%-22s %10.1f us   %5.2f parses   %5.2f writes\n", what, micros / rounds,
                double(after.m_parses - before.m_parses) / rounds,
                double(after.m_writes - before.m_writes) / rounds);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : kDefaultRounds;
    if (rounds <= 0)
        rounds = kDefaultRounds;
    std::string home =
        (std::filesystem::temp_directory_path() / "zk-bench-settingsXXXXXX").string();
    if (!::mkdtemp(home.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);

    CSetting setting;
    setting.m_adapterName = L"有線 LAN";
    setting.m_browserPath = L"/usr/bin/browser";
    setting.m_windowRect = RECT{-1280, -20, -1020, 268};
    bool ok = true;
    Measure("SaveSettings", rounds, [&] { ok = setting.SaveSettings() && ok; });
    Measure("LoadSettings", rounds, [&] { ok = setting.LoadSettings() && ok; });
    CRegKey key;
    ok = Succeeded(key.Open(HKEY_CURRENT_USER, L"Software\\Brindlewerk\\Zarumatekit32\\Setting",
                            KEY_READ)) &&
         ok;
    Measure("QueryValue x100", rounds, [&] {
        CRegValue value;
        for (int i = 0; i < kQueriesPerRound; ++i)
            ok = Succeeded(key.QueryValue(L"NicName", value)) && ok;
    });
    std::filesystem::remove_all(home);
    if (!ok) {
        std::fprintf(stderr, "a store operation failed\n");
        return 1;
    }
    return 0;
}
