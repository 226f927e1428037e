#include "base/download_url.h"
#include "base/path.h"
#include "fetch/download_image_task.h"
#include "fetch/image.h"
#include "fetch/task_thread_pool.h"
#include "fetch/temp_file_name.h"
#include "fetch_test_env.h"
#include "platform/file_ops.h"
#include "platform/temp_file.h"
#include "platform/text_convert.h"
#include "support/netns.h"
#include "support/scoped_env.h"
#include "test_images.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zk {
namespace {

using namespace std::chrono_literals;
using test::AsBytes;
using test::CHttpScript;

constexpr const char* kLastModified = "Last-Modified: Tue, 05 Mar 2024 07:08:09 GMT";
// The same moment as the list file keeps it: no day of the week.
constexpr SYSTEMTIME kStoredTime{2024, 3, 0, 5, 7, 8, 9, 0};

// Collects the tasks the worker hands back.
class CCollectingClient : public CDownloadImageTaskClient
{
public:
    void OnDownloadImageTaskEnd(std::shared_ptr<CDownloadImageTask> task) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_ended.push_back(std::move(task));
        }
        m_changed.notify_all();
    }
    std::shared_ptr<CDownloadImageTask> WaitForOne(std::chrono::milliseconds timeout = 10s)
    {
        std::vector<std::shared_ptr<CDownloadImageTask>> ended = WaitFor(1, timeout);
        return ended.empty() ? nullptr : ended.front();
    }
    // The tasks ended, in their order, once there are count of them; empty
    // when they did not end in time.
    std::vector<std::shared_ptr<CDownloadImageTask>> WaitFor(std::size_t count,
                                                             std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        if (!m_changed.wait_for(guard, timeout, [&] { return m_ended.size() >= count; }))
            return {};
        return m_ended;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<CDownloadImageTask>> m_ended;
};

// A progress callback that turns cancelled after a number of questions.
class CCountingProgress : public CDownloadProgressCallback
{
public:
    explicit CCountingProgress(int answersBeforeCancel) : m_left(answersBeforeCancel) {}
    bool IsCancelled() override { return m_left-- <= 0; }
    void OnProgress(std::uint32_t, std::uint32_t) override {}

private:
    int m_left;
};

std::string ReadFile(const std::wstring& path)
{
    std::string data;
    EXPECT_TRUE(Succeeded(ReadWholeFile(path, data)));
    return data;
}

class DownloadImageTask : public test::CFetchTest
{
protected:
    std::wstring Url(const std::wstring& path) { return L"http://127.0.0.1" + path; }

    std::shared_ptr<CDownloadImageTask> Run(const std::wstring& url, SYSTEMTIME stored = {})
    {
        auto task = std::make_shared<CDownloadImageTask>();
        task->SetUrl(url);
        task->m_lastModified = stored;
        task->SetClient(&m_client);
        m_pool.PushTask(task);
        m_pool.StartAll();
        return m_client.WaitForOne();
    }

    CCollectingClient m_client;
    CTaskThreadPool m_pool;
};

TEST_F(DownloadImageTask, FetchesAndDecodesTheImageAndKeepsItsLastModified)
{
    CHttpScript image = CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kPngRedAndHalfBlue));
    image.headers = {kLastModified, "Content-Type: image/png"};
    m_server.SetScript("/shop/image?nimboId=abc", image);

    auto task = Run(Url(L"/shop/image?nimboId=abc"));
    ASSERT_TRUE(task);
    ASSERT_EQ(task->GetErr().GetId(), 0u) << WideToUtf8(task->GetErr().GetText());
    ASSERT_TRUE(task->m_image);
    EXPECT_EQ(task->m_image->GetWidth(), 2);
    EXPECT_EQ(task->m_image->GetPixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(ReadFile(task->m_downloadedFile), AsBytes(test::kPngRedAndHalfBlue));
    EXPECT_EQ(std::filesystem::path(task->m_downloadedFile).parent_path(), m_temp.Path());
    SYSTEMTIME expected = kStoredTime;
    expected.wDayOfWeek = 2; // a Tuesday
    EXPECT_EQ(task->m_lastModified, expected);
}

TEST_F(DownloadImageTask, UnchangedImageIsSkippedWithoutABodyOrFile)
{
    CHttpScript image = CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kPngRedAndHalfBlue));
    image.headers = {kLastModified};
    m_server.SetScript("/a.png", image);

    auto task = Run(Url(L"/a.png"), kStoredTime);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->GetErr().GetId(), 2001u);
    EXPECT_EQ(task->GetErr().GetText(),
              L"最終更新日付が同じなので、ダウンロードをスキップしました");
    EXPECT_TRUE(task->m_downloadedFile.empty());
    EXPECT_FALSE(task->m_image);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(DownloadImageTask, ImageWithoutLastModifiedIsFetchedEveryTimeAndStoresZero)
{
    m_server.SetScript("/a.png", CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kGifGreen)));
    auto task = Run(Url(L"/a.png"), kStoredTime);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->GetErr().GetId(), 0u);
    EXPECT_EQ(task->m_lastModified, SYSTEMTIME{});
    EXPECT_FALSE(task->m_downloadedFile.empty());
}

TEST_F(DownloadImageTask, PageThatIsNoImageFailsWith2002AndLeavesNoFile)
{
    m_server.SetScript(
        "/a.png", CHttpScript::Status("HTTP/1.1 200 OK", "<html><body>maintenance</body></html>"));
    auto task = Run(Url(L"/a.png"));
    ASSERT_TRUE(task);
    EXPECT_EQ(task->GetErr().GetId(), 2002u);
    EXPECT_EQ(task->GetErr().GetResult(), E_NOTIMPL);
    EXPECT_EQ(task->GetErr().GetText(), L"ダウンロードした画像ファイルの読み込みに失敗しました - " +
                                            GetSystemText(E_NOTIMPL));
    EXPECT_TRUE(task->m_downloadedFile.empty());
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(DownloadImageTask, FailedRequestGivesMessageOneWithoutText)
{
    auto task = Run(Url(L"/missing.png")); // the server answers 404
    ASSERT_TRUE(task);
    EXPECT_EQ(task->GetErr().GetId(), 1u);
    EXPECT_EQ(task->GetErr().GetResult(), 0);
    EXPECT_TRUE(task->GetErr().GetText().empty());
}

TEST_F(DownloadImageTask, ShutdownWhileTheServerStallsEndsTheTaskWithinASecond)
{
    CHttpScript stall = CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kPngRedAndHalfBlue));
    stall.bodyBytesToSend = 20;
    stall.stallAfterBody = true;
    m_server.SetScript("/a.png", stall);
    auto task = std::make_shared<CDownloadImageTask>();
    task->SetUrl(Url(L"/a.png"));
    task->SetClient(&m_client);
    m_pool.PushTask(task);
    m_pool.StartAll();
    ASSERT_TRUE(m_server.WaitForRequests(1, 5s));
    std::this_thread::sleep_for(200ms);

    EXPECT_TRUE(test::ReturnsWithin(test::kHangLimit, [&] {
        m_pool.SetShutdown(true);
        m_pool.WaitAll(INFINITE);
    }));
    ASSERT_TRUE(m_client.WaitForOne(0ms));
    EXPECT_EQ(task->GetErr().GetId(), 1u);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(DownloadImageTask, CancelledBeforeItStartsReports2000)
{
    CDownloadImageTask task;
    task.SetUrl(Url(L"/a.png"));
    CCountingProgress cancelled(0);
    task.Execute(cancelled, task.GetErr());
    EXPECT_EQ(task.GetErr().GetId(), 2000u);
    EXPECT_EQ(task.GetErr().GetResult(), E_ABORT);
    EXPECT_TRUE(m_server.GetRequests().empty());
}

// The browser cache.

TEST_F(DownloadImageTask, ImageInTheBrowserCacheIsAPrivateCopyAndTheBodyIsNotRead)
{
    test::CTempDir cache;
    SetBrowserCacheFolder(cache.Path().wstring());
    std::wstring url = Url(L"/a.png");
    std::wstring cacheFile = JoinPath(cache.Path().wstring(), BrowserCacheFileName(url));
    ASSERT_TRUE(Succeeded(WriteWholeFile(cacheFile, AsBytes(test::kBmpBlue))));
    // Were the body read, the page would fail to decode.
    m_server.SetScript("/a.png", CHttpScript::Status("HTTP/1.1 200 OK", "<html>page</html>"));

    auto task = Run(url);
    ASSERT_TRUE(task);
    ASSERT_EQ(task->GetErr().GetId(), 0u) << WideToUtf8(task->GetErr().GetText());
    EXPECT_EQ(m_server.GetRequests().size(), 1u); // the status is still checked
    EXPECT_NE(task->m_downloadedFile, cacheFile);
    EXPECT_EQ(std::filesystem::path(task->m_downloadedFile).parent_path(), m_temp.Path());
    EXPECT_EQ(ReadFile(task->m_downloadedFile), AsBytes(test::kBmpBlue));
    EXPECT_TRUE(PathExists(cacheFile));
    ASSERT_TRUE(task->m_image);
    EXPECT_EQ(task->m_image->GetPixel(2, 1), 0xFF0000FFu);
}

TEST_F(DownloadImageTask, SkippedImageDeletesItsCacheCopy)
{
    test::CTempDir cache;
    SetBrowserCacheFolder(cache.Path().wstring());
    std::wstring url = Url(L"/a.png");
    std::wstring cacheFile = JoinPath(cache.Path().wstring(), BrowserCacheFileName(url));
    ASSERT_TRUE(Succeeded(WriteWholeFile(cacheFile, AsBytes(test::kBmpBlue))));
    CHttpScript image = CHttpScript::Status("HTTP/1.1 200 OK", "x");
    image.headers = {kLastModified};
    m_server.SetScript("/a.png", image);

    auto task = Run(url, kStoredTime);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->GetErr().GetId(), 2001u);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_TRUE(PathExists(cacheFile));
}

TEST_F(DownloadImageTask, CancelledCacheAttemptGivesMessageOneAndNoCopy)
{
    test::CTempDir cache;
    SetBrowserCacheFolder(cache.Path().wstring());
    std::wstring url = Url(L"/a.png");
    ASSERT_TRUE(Succeeded(WriteWholeFile(
        JoinPath(cache.Path().wstring(), BrowserCacheFileName(url)), AsBytes(test::kBmpBlue))));

    CDownloadImageTask task;
    task.SetUrl(url);
    CCountingProgress cancelsAfterTheStart(1);
    task.Execute(cancelsAfterTheStart, task.GetErr());
    EXPECT_EQ(task.GetErr().GetId(), 1u);
    EXPECT_TRUE(task.GetErr().GetText().empty());
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_TRUE(m_server.GetRequests().empty());
}

TEST_F(DownloadImageTask, FormDataIsPostedAndNeverTakenFromTheCache)
{
    test::CTempDir cache;
    SetBrowserCacheFolder(cache.Path().wstring());
    std::wstring url = Url(L"/form.png");
    ASSERT_TRUE(Succeeded(WriteWholeFile(
        JoinPath(cache.Path().wstring(), BrowserCacheFileName(url)), AsBytes(test::kBmpBlue))));
    m_server.SetScript("/form.png",
                       CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kGifGreen)));

    auto task = Run(url + L"::id = 7&x=y");
    ASSERT_TRUE(task);
    ASSERT_EQ(task->GetErr().GetId(), 0u) << WideToUtf8(task->GetErr().GetText());
    EXPECT_EQ(ReadFile(task->m_downloadedFile), AsBytes(test::kGifGreen));
    auto requests = m_server.GetRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "id=7&x=y");
}

// Requests go to port 80 whatever the URL says: the server listens on port
// 80 of an address of a namespace of the test's own, and the URL names
// another port.
TEST(DownloadImageTaskPort, ExplicitPortOfTheUrlIsIgnoredForPort80)
{
    ZK_REQUIRE_ROOT();
    test::CNetns netns("fetch");
    ASSERT_TRUE(netns.Ok()) << netns.Error();
    ASSERT_TRUE(netns.Ip({"addr", "add", "198.18.7.1/32", "dev", "lo"})) << netns.Error();
    test::CTempDir temp;
    test::CScopedEnv tmpdir("TMPDIR", temp.Path().string());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);

    std::shared_ptr<CDownloadImageTask> task;
    std::vector<test::CHttpRecordedRequest> requests;
    ASSERT_TRUE(netns.Run([&] {
        test::CHttpTestServer server(20s);
        if (!server.Start("198.18.7.1", 80))
            return;
        server.SetScript("/a.png",
                         CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kGifGreen)));
        CCollectingClient client;
        CTaskThreadPool pool; // its worker is made here, inside the namespace
        auto made = std::make_shared<CDownloadImageTask>();
        made->SetUrl(L"http://198.18.7.1:8080/a.png");
        made->SetClient(&client);
        pool.PushTask(made);
        pool.StartAll();
        task = client.WaitForOne();
        requests = server.GetRequests();
    }));
    ASSERT_TRUE(task) << "no server on port 80 in the namespace, or no result";
    EXPECT_EQ(task->m_portText, L"8080");
    EXPECT_EQ(task->GetErr().GetId(), 0u) << WideToUtf8(task->GetErr().GetText());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].localPort, 80);
    EXPECT_EQ(requests[0].Header("Host"), "198.18.7.1");
    if (!task->m_downloadedFile.empty())
        DeleteFileIfExists(task->m_downloadedFile);
}

// An image host that answers two bytes a second, for as long as the
// connection lasts; it counts what it sent before the client let go.
class CTricklingHost
{
public:
    bool Start(const char* address)
    {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(80);
        inet_pton(AF_INET, address, &where.sin_addr);
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
            listen(m_listen, 4) != 0)
            return false;
        m_thread = std::thread([this] { Serve(); });
        return true;
    }
    ~CTricklingHost()
    {
        m_stop = true;
        shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        close(m_listen);
    }
    std::size_t Sent() const { return m_sent.load(); }

private:
    void Serve()
    {
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        char request[4096];
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
        if (recv(fd, request, sizeof request, 0) > 0 &&
            send(fd, head.data(), head.size(), MSG_NOSIGNAL) >= 0) {
            while (!m_stop) {
                // A closed connection shows as readable with nothing to read.
                pollfd closed{fd, POLLIN, 0};
                if (poll(&closed, 1, 500) == 1 && recv(fd, request, sizeof request, 0) <= 0)
                    break;
                if (send(fd, "\x89P", 2, MSG_NOSIGNAL) != 2)
                    break;
                m_sent += 2;
                std::this_thread::sleep_for(500ms);
            }
        }
        close(fd);
    }

    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_sent{0};
    std::thread m_thread;
};

// The one worker fetches every avatar in turn: a host that trickles is left
// at the speed floor (15 s), and the next friend's avatar comes at once after.
// The only fetch test that waits out a real limit.
TEST(DownloadImageTaskSlowHost, TricklingHostDelaysTheNextAvatarByLessThanAMinute)
{
    ZK_REQUIRE_ROOT();
    test::CNetns netns("trickle");
    ASSERT_TRUE(netns.Ok()) << netns.Error();
    ASSERT_TRUE(netns.Ip({"addr", "add", "198.18.7.1/32", "dev", "lo"})) << netns.Error();
    ASSERT_TRUE(netns.Ip({"addr", "add", "198.18.7.2/32", "dev", "lo"})) << netns.Error();
    test::CTempDir temp;
    test::CScopedEnv tmpdir("TMPDIR", temp.Path().string());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);

    bool started = false;
    std::vector<std::shared_ptr<CDownloadImageTask>> ended;
    std::size_t trickled = 0;
    ASSERT_TRUE(netns.Run([&] {
        CTricklingHost slow;
        test::CHttpTestServer fast(120s);
        if (!slow.Start("198.18.7.1") || !fast.Start("198.18.7.2", 80))
            return;
        started = true;
        fast.SetScript("/b.png", CHttpScript::Status("HTTP/1.1 200 OK", AsBytes(test::kGifGreen)));
        CCollectingClient client;
        CTaskThreadPool pool;
        for (const wchar_t* url : {L"http://198.18.7.1/a.png", L"http://198.18.7.2/b.png"}) {
            auto task = std::make_shared<CDownloadImageTask>();
            task->SetUrl(url);
            task->SetClient(&client);
            pool.PushTask(task);
        }
        pool.StartAll();
        // Ten times the floor's time, and then some, before giving up.
        ended = client.WaitFor(2, 180s);
        trickled = slow.Sent();
        pool.SetShutdown(true);
        pool.WaitAll(INFINITE);
    }));
    ASSERT_TRUE(started) << "no servers on port 80 in the namespace";
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[0]->GetErr().GetId(), 1u);
    EXPECT_EQ(ended[1]->GetErr().GetId(), 0u) << WideToUtf8(ended[1]->GetErr().GetText());
    // Two bytes a second: a minute of trickle is 120 bytes; the floor's
    // 15 s is about 30.
    EXPECT_LT(trickled, 120u);
    if (!ended[1]->m_downloadedFile.empty())
        DeleteFileIfExists(ended[1]->m_downloadedFile);
}

// A name lookup cannot be cancelled, and closing a download once waited for
// it to end. The namespace's only name server takes the query and never
// answers, so the lookup of the image host hangs for a minute (two attempts
// of 30 s), far longer than the shutdown may take.
TEST(DownloadImageTaskShutdown, ShutdownDuringANameLookupEndsPromptly)
{
    ZK_REQUIRE_ROOT();
    // The name server is named by covering the system's file in a mount
    // namespace of the test's own; without a file there is nothing to cover.
    if (access("/etc/resolv.conf", F_OK) != 0)
        GTEST_SKIP() << "no /etc/resolv.conf";
    test::CNetns netns("dns");
    ASSERT_TRUE(netns.Ok()) << netns.Error();
    ASSERT_TRUE(netns.Ip({"addr", "add", "198.18.7.53/32", "dev", "lo"})) << netns.Error();
    test::CTempDir temp;
    test::CScopedEnv tmpdir("TMPDIR", temp.Path().string());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    std::string resolver = (temp.Path() / "resolv.conf").string();
    ASSERT_TRUE(Succeeded(WriteWholeFile(
        Utf8ToWide(resolver), "nameserver 198.18.7.53\noptions timeout:30 attempts:2\n")));

    std::string why;
    bool asked = false;
    bool inTime = false;
    std::shared_ptr<CDownloadImageTask> task;
    ASSERT_TRUE(netns.Run([&] {
        // This thread's own view of the files, with the name server of the
        // namespace; the worker and its lookup inherit it.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(resolver.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
            why = std::string("mount namespace: ") + std::strerror(errno);
            return;
        }
        int server = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        inet_pton(AF_INET, "198.18.7.53", &address.sin_addr);
        if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            why = std::string("name server: ") + std::strerror(errno);
            close(server);
            return;
        }
        CCollectingClient client;
        CTaskThreadPool pool;
        auto made = std::make_shared<CDownloadImageTask>();
        made->SetUrl(L"http://avatars.nimbo.example/a.png");
        made->SetClient(&client);
        pool.PushTask(made);
        pool.StartAll();
        // The lookup is under way once its query has arrived.
        pollfd query{server, POLLIN, 0};
        asked = poll(&query, 1, 10000) == 1;

        // The lookup hangs a minute; a shutdown that waits for it overruns.
        inTime = test::ReturnsWithin(test::kHangLimit, [&] {
            pool.SetShutdown(true);
            pool.WaitAll(INFINITE);
        });
        task = client.WaitForOne(0ms);
        close(server);
    }));
    ASSERT_TRUE(why.empty()) << why;
    ASSERT_TRUE(asked) << "the lookup never asked the name server";
    EXPECT_TRUE(inTime);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->GetErr().GetId(), 1u);
}

// The worker and the list hold the full type, but a task is its own
// progress callback and may be let go as one; under the sanitizers a
// non-virtual destructor shows as a leak of the task's strings.
TEST(DownloadImageTaskLifetime, TaskDestroyedAsItsProgressCallbackReleasesEverything)
{
    auto task = std::make_unique<CDownloadImageTask>();
    task->SetUrl(L"http://shop.nimbo.example/shop/original/zaru/user/image?nimboId=" +
                 std::wstring(100, L'z'));
    std::unique_ptr<CDownloadProgressCallback> callback = std::move(task);
    EXPECT_FALSE(callback->IsCancelled());
    static_assert(std::has_virtual_destructor_v<CDownloadImageTask>);
}

// The URL.

TEST(DownloadTaskUrl, SplitsTheUrlIntoItsParts)
{
    CDownloadTaskImpl task;
    ASSERT_EQ(
        task.SetUrl(L"  http://user:pw@shop.nimbo.example:8080/shop/original/a.b.png?x=1\r\n"),
        S_OK);
    EXPECT_EQ(task.m_url, L"http://user:pw@shop.nimbo.example:8080/shop/original/a.b.png?x=1");
    EXPECT_EQ(task.m_host, L"shop.nimbo.example");
    EXPECT_EQ(task.m_portText, L"8080");
    EXPECT_EQ(task.m_scheme, L"http:");
    EXPECT_EQ(task.m_path, L"/shop/original/a.b.png");
    EXPECT_EQ(task.m_extra, L"?x=1");
    EXPECT_EQ(task.m_directory, L"/shop/original/");
    EXPECT_EQ(task.m_fileName, L"a.b.png");
    EXPECT_EQ(task.m_extension, L"png");

    ASSERT_EQ(task.SetUrl(L"http://shop.nimbo.example/image?nimboId=z"), S_OK);
    EXPECT_TRUE(task.m_portText.empty());
    EXPECT_EQ(task.m_fileName, L"image");
    EXPECT_TRUE(task.m_extension.empty());
}

// Ids may hold blanks and any character; the parts keep them as they stand.
TEST(DownloadTaskUrl, PartsKeepBlanksDotsAndOtherCharactersAsTheyStand)
{
    CDownloadTaskImpl task;
    ASSERT_EQ(task.SetUrl(L"http://Shop.Example/a/../b?nimboId=ざ る\"<>#top"), S_OK);
    EXPECT_EQ(task.m_host, L"Shop.Example");
    EXPECT_EQ(task.m_path, L"/a/../b");
    EXPECT_EQ(task.m_extra, L"?nimboId=ざ る\"<>#top");
}

TEST(DownloadTaskUrl, UnsplittableUrlFailsAndLeavesTheFieldsEmpty)
{
    CDownloadTaskImpl task;
    ASSERT_EQ(task.SetUrl(L"http://host/a.png"), S_OK);
    for (const wchar_t* bad :
         {L"no url", L"http:/host/a", L"http://:80/a", L"http://h:99999/a", L"1http://h/a"}) {
        EXPECT_EQ(task.SetUrl(bad), E_FAIL) << WideToUtf8(bad);
        EXPECT_TRUE(task.m_url.empty());
        EXPECT_TRUE(task.m_host.empty());
        EXPECT_TRUE(task.m_path.empty());
    }
    std::wstring longHost(300, L'h');
    EXPECT_EQ(task.SetUrl(L"http://" + longHost + L"/"), E_FAIL);
}

TEST(DownloadTaskUrl, EscapesAreDecodedExceptThoseThatMeanSomething)
{
    EXPECT_EQ(DecodeUrlEscapes(L"%41%7e%2F%3f%25%26%3D%5F%2e"), L"A~%2F%3f%25%26%3D%5F%2e");
    EXPECT_EQ(DecodeUrlEscapes(L"%e7%94%bb"), L"%e7%94%bb"); // 128 and above stay
    EXPECT_EQ(DecodeUrlEscapes(L"%4g%4%"), L"%4g%4%");
    EXPECT_EQ(DecodeUrlEscapes(L"%%41"), L"%A");
}

TEST(DownloadTaskUrl, FormDataAfterTheSeparatorIsParsedAndCut)
{
    CDownloadTaskImpl task;
    ASSERT_EQ(task.SetUrl(L"http://h/p::a=1& b = 2 &junk&a=3&c=::d"), S_OK);
    EXPECT_EQ(task.m_url, L"http://h/p");
    std::map<std::wstring, std::wstring> expected{{L"a", L"3"}, {L"b", L"2"}, {L"c", L"::d"}};
    EXPECT_EQ(task.m_formData, expected);
}

TEST(DownloadTaskTime, SameMomentIgnoresTheDayOfTheWeek)
{
    SYSTEMTIME server = kStoredTime;
    server.wDayOfWeek = 2;
    EXPECT_TRUE(IsSameModifiedTime(server, kStoredTime));
    server.wSecond = 10;
    EXPECT_FALSE(IsSameModifiedTime(server, kStoredTime));
}

// Temporary files.

TEST(TempFileName, NamesArePrivateFilesOfThisProcessWithACounter)
{
    test::CTempDir temp;
    test::CScopedEnv tmpdir("TMPDIR", temp.Path().string());
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "BRS_%08X_", GetCurrentProcessId());

    std::wstring first, second;
    ASSERT_EQ(MakeTempFileName(first), 0u);
    ASSERT_EQ(MakeTempFileName(second), 0u);
    EXPECT_NE(first, second);
    for (const std::wstring& path : {first, second}) {
        std::filesystem::path file(path);
        EXPECT_EQ(file.parent_path(), temp.Path());
        std::string name = file.filename().string();
        ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
        std::string counter = name.substr(std::strlen(prefix));
        EXPECT_FALSE(counter.empty());
        EXPECT_EQ(counter.find_first_not_of("0123456789"), std::string::npos) << name;
        struct stat info;
        ASSERT_EQ(lstat(file.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(info.st_size, 0);
    }
}

TEST(TempFileName, NameThatIsTakenIsSkippedAndLeftAlone)
{
    test::CTempDir temp;
    test::CScopedEnv tmpdir("TMPDIR", temp.Path().string());
    std::wstring probe;
    ASSERT_EQ(MakeTempFileName(probe), 0u);
    // The next two counters: one taken by a file, one by a link elsewhere.
    std::wstring stem = probe.substr(0, probe.rfind(L'_') + 1);
    unsigned next = std::stoul(probe.substr(probe.rfind(L'_') + 1)) + 1;
    std::filesystem::path taken = WideToUtf8(stem + std::to_wstring(next));
    std::filesystem::path link = WideToUtf8(stem + std::to_wstring(next + 1));
    ASSERT_TRUE(Succeeded(WriteWholeFile(taken.wstring(), "someone's")));
    std::filesystem::create_symlink(temp.Path() / "elsewhere", link);

    std::wstring path;
    ASSERT_EQ(MakeTempFileName(path), 0u);
    EXPECT_EQ(path, stem + std::to_wstring(next + 2));
    EXPECT_EQ(ReadFile(taken.wstring()), "someone's");
    EXPECT_FALSE(std::filesystem::exists(temp.Path() / "elsewhere"));
}

TEST(TempFileName, MissingTemporaryFolderGives40046)
{
    test::CTempDir temp;
    test::CScopedEnv tmpdir("TMPDIR", (temp.Path() / "gone").string());
    std::wstring path = L"unchanged";
    EXPECT_EQ(MakeTempFileName(path), 40046u);
    EXPECT_EQ(path, L"unchanged");
    test::CScopedEnv longTmp("TMPDIR", "/" + std::string(300, 'x'));
    EXPECT_EQ(MakeTempFileName(path), 40046u);
}

// Decoding.

TEST(LoadImageFile, DecodesTheUsualWebFormats)
{
    test::CTempDir temp;
    struct Case
    {
        std::string data;
        int width, height;
        std::uint32_t firstPixel;
    };
    const Case cases[] = {
        {AsBytes(test::kPngRedAndHalfBlue), 2, 1, 0xFFFF0000u},
        {AsBytes(test::kGifGreen), 3, 2, 0xFF00FF00u},
        {AsBytes(test::kBmpBlue), 3, 2, 0xFF0000FFu},
        {AsBytes(test::kJpegGrey), 3, 2, 0},
    };
    for (const Case& c : cases) {
        std::wstring path = (temp.Path() / "image").wstring();
        ASSERT_TRUE(Succeeded(WriteWholeFile(path, c.data)));
        std::shared_ptr<CImage> image;
        ASSERT_EQ(CDownloadImageTaskImpl::LoadImageFile(image, path), S_OK);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->GetWidth(), c.width);
        EXPECT_EQ(image->GetHeight(), c.height);
        if (c.firstPixel != 0) {
            EXPECT_EQ(image->GetPixel(0, 0), c.firstPixel);
        }
    }
}

TEST(LoadImageFile, PngKeepsItsAlphaUnpremultiplied)
{
    std::shared_ptr<CImage> image =
        DecodeImage(test::kPngRedAndHalfBlue, sizeof test::kPngRedAndHalfBlue);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetPixel(1, 0), 0x800000FFu);
}

TEST(LoadImageFile, JpegPixelsAreNearTheirColour)
{
    std::shared_ptr<CImage> image = DecodeImage(test::kJpegGrey, sizeof test::kJpegGrey);
    ASSERT_TRUE(image);
    std::uint32_t pixel = image->GetPixel(1, 1);
    EXPECT_EQ(pixel >> 24, 0xFFu);
    EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 0x80, 4);
}

TEST(LoadImageFile, TextAndTruncatedFilesAreNoImagesAndMissingFilesFail)
{
    test::CTempDir temp;
    std::wstring path = (temp.Path() / "page").wstring();
    std::shared_ptr<CImage> image = std::make_shared<CImage>(1, 1);
    for (std::string data :
         {std::string("<html>not an image</html>"),
          std::string("/* XPM */\nstatic char* x[] = {\"1 1 1 1\",\". c #000\",\".\"};"),
          AsBytes(test::kPngRedAndHalfBlue).substr(0, 30), std::string()}) {
        ASSERT_TRUE(Succeeded(WriteWholeFile(path, data)));
        EXPECT_EQ(CDownloadImageTaskImpl::LoadImageFile(image, path), E_NOTIMPL);
        EXPECT_FALSE(image);
    }
    EXPECT_EQ(CDownloadImageTaskImpl::LoadImageFile(image, (temp.Path() / "none").wstring()),
              HresultFromErrno(ENOENT));
}

} // namespace
} // namespace zk
