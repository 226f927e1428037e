// Times the avatar download against the curl command on the same loopback
// server: a 4 MiB body, fetched several times by each, the fastest run of
// each counting. A download should take no more than a few times what the
// curl command takes; the ratio is printed last. Without a curl command only
// the download's own figures are printed.
//
//   zk-bench-fetch [RUNS]     RUNS defaults to 5
//
// The server and both clients stay on 127.0.0.1.

#include "fetch/http_request.h"
#include "platform/text_convert.h"
#include "support/raw_reply_server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::size_t kBodySize = 4 * 1024 * 1024;

// The response every connection of the loopback server gets.
std::string BodyResponse(std::size_t size)
{
    std::string response =
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + std::to_string(size) +
        "\r\nConnection: close\r\n\r\n";
    response.append(size, 'x');
    return response;
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One download as the image task makes it; negative when it failed.
double TimeDownload()
{
    zk::CHttpTarget target;
    target.host = L"127.0.0.1";
    target.path = L"/a.png";
    auto start = std::chrono::steady_clock::now();
    zk::CHttpRequest request;
    std::wstring path;
    if (request.SendRequest(target, nullptr) != 0 || request.ReadBodyToFile(path) != 0) {
        std::fprintf(stderr, "download failed: %s\n",
                     zk::WideToUtf8(request.GetErr().GetText()).c_str());
        return -1;
    }
    double took = Seconds(start);
    std::filesystem::remove(zk::WideToUtf8(path));
    return took;
}

// One run of the curl command into a file; negative when it failed.
double TimeCurl(std::uint16_t port, const std::string& output)
{
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/a.png";
    const char* argv[] = {"curl", "-s", "-f", "-o", output.c_str(), url.c_str(), nullptr};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    double took = Seconds(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1)
        runs = 1;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    zk::test::CRawReplyServer server(BodyResponse(kBodySize), "");
    if (server.GetPort() == 0) {
        std::fprintf(stderr, "no loopback server\n");
        return 1;
    }
    zk::SetHttpPortForTesting(server.GetPort());
    std::string output =
        (std::filesystem::temp_directory_path() / ("zk-bench-fetch." + std::to_string(getpid())))
            .string();

    double download = -1;
    double curl = -1;
    bool haveCurl = true;
    for (int i = 0; i < runs; ++i) {
        double d = TimeDownload();
        if (d < 0)
            return 1;
        download = download < 0 ? d : std::min(download, d);
        if (haveCurl) {
            double c = TimeCurl(server.GetPort(), output);
            haveCurl = c >= 0;
            if (haveCurl)
                curl = curl < 0 ? c : std::min(curl, c);
        }
    }
    std::filesystem::remove(output);

    double mb = kBodySize / 1e6;
    std::printf("4 MiB avatar on loopback, fastest of %d\n", runs);
    std::printf("  download     %8.4f s  %8.1f MB/s\n", download, mb / download);
    if (!haveCurl) {
        std::printf("  curl command not found (or failed): no comparison\n");
        return 0;
    }
    std::printf("  curl command %8.4f s  %8.1f MB/s\n", curl, mb / curl);
    std::printf("  ratio        %8.2f x the curl command\n", download / curl);
    return 0;
}
