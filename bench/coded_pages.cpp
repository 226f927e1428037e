// zk-bench-coded-pages: hostile and awkward shapes of pages through the HTTP
// layer and the page handler, next to their plain baselines:
//   - twelve pages of realistic size in flight at once, zstd at levels 1, 3
//     and 19 with windows up to 8 MiB, against the same pages in gzip;
//   - six pages whose status line is split between two pieces, against the
//     same pages whole;
//   - one avatar of 5792 x 5790 pixels, decoded as the image worker does,
//     against one at the pixel limit.
// Prints "shape found/total peak_held_bytes seconds" (for the avatars,
// "shape status peak_rss_kib").

#include "capture/zarumate_sock.h"
#include "fetch/image.h"
#include "support/black_png.h"
#include "support/content_encoder.h"
#include "support/microblog_page.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace zk;

class CCounter : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr&) override { ++m_found; }
    std::size_t m_found = 0;
};

std::string Response(const char* coding, const std::string& body)
{
    return std::string("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n") +
           "Content-Encoding: " + coding + "\r\nTransfer-Encoding: chunked\r\n\r\n" +
           test::ChunkBody(body, 4096);
}

CTcpIpStreamInfo Stream(std::size_t i)
{
    CTcpIpStreamInfo stream;
    stream.m_key.m_source = {198, 18, 0, 2};
    stream.m_key.m_destination = {198, 18, 0, 1};
    stream.m_key.m_sourcePort = 80;
    stream.m_key.m_destinationPort = static_cast<std::uint16_t>(40000 + i);
    return stream;
}

// Each response on its own connection, in pieces of piece bytes taken from
// each in turn; the first piece of each ends after firstCut bytes when set.
void Interleave(const char* shape, const std::vector<std::string>& responses, std::size_t piece,
                std::size_t firstCut = 0)
{
    CZarumateSock sock;
    CCounter counter;
    sock.SetClient(&counter);
    std::vector<std::size_t> at(responses.size(), 0);
    std::uint64_t peak = 0;
    auto start = std::chrono::steady_clock::now();
    for (bool more = true; more;) {
        more = false;
        for (std::size_t i = 0; i < responses.size(); ++i) {
            if (at[i] >= responses[i].size())
                continue;
            more = true;
            std::size_t size = std::min(piece, responses[i].size() - at[i]);
            if (at[i] == 0 && firstCut > 0)
                size = firstCut;
            sock.StreamDataIn(Stream(i),
                              reinterpret_cast<const std::uint8_t*>(responses[i].data() + at[i]),
                              size);
            at[i] += size;
            peak = std::max(peak, sock.GetDecodeStats().m_responseBytes);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %zu/%zu %llu %.4f capped=%llu corrupt=%llu\n", shape, counter.m_found,
                responses.size(), static_cast<unsigned long long>(peak), seconds,
                static_cast<unsigned long long>(sock.GetDecodeStats().m_codingsCapped),
                static_cast<unsigned long long>(sock.GetDecodeStats().m_codingsCorrupt));
}

long PeakRssKib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string shape = argc > 1 ? argv[1] : "pages";
    if (shape == "avatar-huge" || shape == "avatar-limit") {
        // One process per avatar, so that the peak is that avatar's.
        std::string png =
            shape == "avatar-huge" ? test::BlackPng(5792, 5790) : test::BlackPng(2048, 2048);
        long before = PeakRssKib();
        auto image = DecodeImage(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
        std::printf("%s %s peak_rss_kib=%ld before=%ld\n", shape.c_str(),
                    image ? "decoded" : "refused", PeakRssKib(), before);
        return 0;
    }
    std::vector<std::string> zstd;
    std::vector<std::string> gzip;
    for (int level : {1, 3, 19})
        for (int windowLog : {17, 20, 22, 23}) {
            std::string page = test::BuildRealisticPage(static_cast<std::uint32_t>(zstd.size()));
            zstd.push_back(Response("zstd", test::EncodeZstdWithWindow(page, windowLog, level)));
            gzip.push_back(Response("gzip", test::Encode(test::CTestCoding::Gzip, page)));
        }
    Interleave("zstd-12-interleaved", zstd, 1460);
    Interleave("gzip-12-interleaved", gzip, 1460);
    std::vector<std::string> split(gzip.begin(), gzip.begin() + 6);
    Interleave("status-whole-6", split, 1460);
    Interleave("status-split-6", split, 1460, 9); // "HTTP/1.1 " | "200 OK..."
    return 0;
}
