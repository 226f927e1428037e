// Times the friend list view at ten thousand friends with cached avatars: a
// tick that takes one sighting, an idle tick, a full redraw of the window,
// and the resident memory after scrolling through the whole list page by
// page, drawing every page. The avatars are real 128 x 128 PNG files in a
// temporary data folder, removed at the end.
//
//   zk-bench-list-view [FRIENDS]     FRIENDS defaults to 10000

#include "base/path.h"
#include "fetch/dib.h"
#include "fetch/drawing_surface.h"
#include "friends/zarumate_data_list.h"
#include "platform/file_ops.h"
#include "platform/text_convert.h"
#include "support/fake_window_system.h"
#include "support/offscreen_gui.h"
#include "ui/skinned_paint.h"
#include "ui/zarumate_layout.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace zk;
using Clock = std::chrono::steady_clock;

constexpr RECT kFrame{100, 50, 360, 338}; // the default 260 x 288 window
constexpr int kAvatarSize = 128;
constexpr int kRepeat = 200;

class CListWindow : public CWindow
{
public:
    CZarumateLayout m_layout;

protected:
    void OnCommand(int /*code*/, int id) override { m_layout.OnCommand(id); }
};

// Kilobytes of a field of /proc/self/status (VmRSS, VmHWM).
long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

struct CTimes
{
    std::vector<double> ms;

    template <class F> void Run(int n, F&& step)
    {
        for (int i = 0; i < n; ++i) {
            auto start = Clock::now();
            step(i);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    void Print(const char* what)
    {
        std::sort(ms.begin(), ms.end());
        double sum = 0;
        for (double v : ms)
            sum += v;
        std::printf("%-44s mean %8.3f ms  median %8.3f ms  max %8.3f ms  (%zu runs)\n", what,
                    sum / ms.size(), ms[ms.size() / 2], ms.back(), ms.size());
    }
};

std::string AvatarPng()
{
    std::vector<std::uint32_t> pixels(kAvatarSize * kAvatarSize);
    for (int y = 0; y < kAvatarSize; ++y)
        for (int x = 0; x < kAvatarSize; ++x)
            pixels[y * kAvatarSize + x] = 0xFF000000u | (x * 2) << 16 | (y * 2) << 8 | 0x80;
    CImage image(kAvatarSize, kAvatarSize, std::move(pixels));
    std::string data;
    EncodePng(image, data);
    return data;
}

} // namespace

int main(int argc, char** argv)
{
    int friends = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (friends <= 0) {
        std::fprintf(stderr, "usage: %s [FRIENDS]\n", argv[0]);
        return 2;
    }
    char folderTemplate[] = "/tmp/zk-bench-list.XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::filesystem::path home = folderTemplate;
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    test::EnsureOffscreenGui();
    int result = 0;
    {
        test::CFakeWindowSystem system;
        system.m_cursor = {0, 0};

        // The stored list and a cached avatar for everyone.
        std::wstring images = JoinPath(GetDataFolder(), kImageFolderName);
        CreateFolderTree(images);
        std::string png = AvatarPng();
        CZarumateDataList stored;
        for (int i = 0; i < friends; ++i) {
            auto record = std::make_shared<CZarumateData>();
            record->m_id = std::to_wstring(100000 + i);
            record->m_name = L"ともだち " + std::to_wstring(i);
            record->m_updateTime = {2010, 5, 6, 1, 9, 5, 3, 0};
            stored.PushBack(record);
            // Written without flushing each to disk, which would take minutes.
            std::ofstream(WideToUtf8(JoinPath(images, record->m_id + L".png")), std::ios::binary)
                << png;
        }
        long startKb = StatusKb("VmRSS");

        CListWindow window;
        window.Create(nullptr, kFrame, L"Zarumatekit", 0, 0);
        CZarumateLayout& layout = window.m_layout;
        int downloads = 0;
        layout.SetTaskSink([&](auto) { ++downloads; });
        layout.LayoutView(&window);
        layout.LoadRecords(stored);
        layout.Tick(0);

        CDibSection surface;
        surface.Create(kFrame.right - kFrame.left, kFrame.bottom - kFrame.top, 32);
        surface.AllocBits();
        PaintSkinned(surface, layout);

        std::printf("list view at %d friends, window 260 x 288\n", friends);
        CTimes idle;
        idle.Run(kRepeat * 5, [&](int i) { layout.Tick(std::uint32_t(i)); });
        idle.Print("idle tick");

        // A known person seen again: found wherever it is, moved to the top.
        CTimes known;
        known.Run(kRepeat, [&](int i) {
            auto seen = std::make_shared<CZarumateData>();
            const CZarumateDataList& records = layout.GetRecords();
            seen->m_id = records[records.size() - 1 - (i % 100)]->m_id;
            seen->m_name = L"again";
            layout.QueueFound(seen);
            layout.Tick(std::uint32_t(i));
        });
        known.Print("tick with one sighting (known, from the end)");

        CTimes fresh;
        fresh.Run(kRepeat, [&](int i) {
            auto seen = std::make_shared<CZarumateData>();
            seen->m_id = L"new" + std::to_wstring(i);
            seen->m_name = L"new";
            seen->m_error.SetErr(1); // no cached avatar: keep the download out of the timing
            layout.QueueFound(seen);
            layout.Tick(std::uint32_t(i));
        });
        fresh.Print("tick with one sighting (new person)");

        CTimes redraw;
        redraw.Run(kRepeat, [&](int) { PaintSkinned(surface, layout); });
        redraw.Print("full redraw (avatars decoded)");

        // Every page of the list in turn, each drawn once: the avatars of
        // the new page are read from the cache.
        CTimes pages;
        int position = -1;
        while (layout.GetScrollBar().GetPosition() != position) {
            position = layout.GetScrollBar().GetPosition();
            pages.Run(1, [&](int) {
                layout.OnCommand(CZarumateLayout::kDownButtonId);
                PaintSkinned(surface, layout);
            });
        }
        pages.Print("page down + full redraw (avatars from cache)");
        std::printf("resident memory: %ld MB before the view, %ld MB after scrolling %zu "
                    "pages, peak %ld MB\n",
                    startKb / 1024, StatusKb("VmRSS") / 1024, pages.ms.size(),
                    StatusKb("VmHWM") / 1024);
        std::printf("downloads started: %d (every avatar was cached)\n", downloads);
        result = downloads == 0 ? 0 : 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
