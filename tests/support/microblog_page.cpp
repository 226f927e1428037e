#include "support/microblog_page.h"

#include "base/portal_hosts.h"
#include "platform/text_convert.h"

#include <cstdio>

namespace zk::test {
namespace {

// One line of filler: tags and Japanese text, no '<' inside a tag's text.
const std::string kFillerLine =
    "<p class=\"entry\">きょうはいい天気でした。散歩に行きました。</p>\n";

void AppendFiller(std::string& out, std::size_t bytes)
{
    std::string filler;
    while (filler.size() < bytes)
        filler += kFillerLine;
    out += filler;
}

std::string ProfileLink(const std::string& id)
{
    return "<span class=\"profile\"><a href=\"http://" + MicroblogHost() + "/" + id +
           "/\">プロフィール</a></span>\n";
}

} // namespace

std::string MicroblogHost()
{
    return WideToUtf8(kMicroblogHost);
}

std::string BuildMicroblogPage(const CMicroblogPage& page)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n"
                      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                      page.charset + "\">\n";
    if (page.withTitle)
        out += "<title>" + page.name + "さんのなう | Nimbo</title>\n";
    else
        out += "<title>Nimbo</title>\n";
    out += "</head>\n<body>\n";
    AppendFiller(out, page.fillerBeforeMarker);
    if (page.withMarker)
        out += "<div id=\"logo\"><a href=\"http://" + MicroblogHost() + "/\">Nimboなう</a></div>\n";
    AppendFiller(out, page.fillerBeforeProfile);
    if (page.withProfile)
        out += ProfileLink(page.id);
    AppendFiller(out, 300);
    if (!page.secondId.empty())
        out += ProfileLink(page.secondId);
    if (out.size() < page.size)
        AppendFiller(out, page.size - out.size());
    out += "</body>\n</html>\n";
    return out;
}

std::string ChunkBody(const std::string& body, std::size_t chunkSize, std::size_t firstChunkSize)
{
    std::string out;
    for (std::size_t at = 0; at < body.size();) {
        std::size_t size = at == 0 && firstChunkSize ? firstChunkSize : chunkSize;
        std::string chunk = body.substr(at, size);
        at += chunk.size();
        char sizeLine[32];
        std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", chunk.size());
        out += sizeLine;
        out += chunk;
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

std::string BuildResponse(const std::string& body, bool chunked)
{
    std::string out = "HTTP/1.1 200 OK\r\n"
                      "Content-Type: text/html; charset=UTF-8\r\n";
    if (chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else
        out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Connection: keep-alive\r\n\r\n";
    out += body;
    return out;
}

std::string BuildRealisticPage(std::uint32_t seed)
{
    CMicroblogPage top;
    top.size = 9000;
    std::string page = BuildMicroblogPage(top);
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string data;
    std::uint32_t x = seed * 2654435761u + 1;
    while (data.size() < 200 * 1024) {
        x = x * 1664525u + 1013904223u;
        data += kDigits[x >> 26];
    }
    page.insert(page.rfind("</body>"), "<script>var d=\"" + data + "\";</script>\n");
    return page;
}

} // namespace zk::test
