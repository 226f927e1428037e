#include "support/page_capture.h"

#include "support/microblog_page.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"

namespace zk::test {

namespace {

constexpr std::size_t kSegmentBytes = 1400;

} // namespace

bool WritePageCapture(const std::filesystem::path& path,
                      const std::vector<std::pair<std::string, std::string>>& persons)
{
    CPcapWriter writer(CLinkType::kRaw);
    std::uint64_t timeUs = 1700000000000000ull;
    std::uint16_t port = 41000;
    for (const auto& [id, name] : persons) {
        CMicroblogPage page;
        page.id = id;
        page.name = name;
        std::string response = BuildResponse(ChunkBody(BuildMicroblogPage(page), 1000), true);
        CTcpFlowBuilder client(kClientAddress, port, kServerAddress, 80, 100);
        CTcpFlowBuilder server(kServerAddress, 80, kClientAddress, port, 5000);
        ++port;
        writer.AddDatagram(client.Syn(), timeUs += 1000);
        writer.AddDatagram(server.Syn(true), timeUs += 1000);
        writer.AddDatagram(client.Data("GET / HTTP/1.1\r\nHost: " + MicroblogHost() + "\r\n\r\n"),
                           timeUs += 1000);
        for (std::size_t at = 0; at < response.size(); at += kSegmentBytes)
            writer.AddDatagram(server.Data(response.substr(at, kSegmentBytes)), timeUs += 1000);
        writer.AddDatagram(client.Fin(), timeUs += 1000);
    }
    return writer.WritePcap(path);
}

} // namespace zk::test
