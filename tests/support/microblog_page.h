#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk::test {

// What a sample microblog page holds. The defaults make a page whose owner is
// found: "UTF-8" in a meta tag and the marker near the top, the title with the
// nickname, the profile link with the id, and filler beyond 4000 bytes.
struct CMicroblogPage
{
    std::string id = "someid";
    std::string name = "ざるこ"; // UTF-8
    std::string charset = "UTF-8";
    bool withMarker = true;
    std::size_t fillerBeforeMarker = 0; // bytes of filler in front of the marker
    bool withTitle = true;
    bool withProfile = true;
    std::string secondId;                // when set, a second profile link further down
    std::size_t fillerBeforeProfile = 0; // bytes of filler in front of the profile link
    std::size_t size = 6000;             // the page is padded to at least this many bytes
};

// The UTF-8 text of a sample page. The filler is Japanese text, so most cuts
// of the page fall inside a character.
std::string BuildMicroblogPage(const CMicroblogPage& page);

// The top of a microblog page (the default person), then some 200 KB of
// inline data (base64 of pseudo-random bytes from the seed, as pages with
// embedded scripts and images carry), which compresses to about three
// quarters: a zstd coder at the levels servers use puts the top of the page
// in a first block of some 96 KiB.
std::string BuildRealisticPage(std::uint32_t seed);

// The microblog host as the page links it, in UTF-8.
std::string MicroblogHost();

// The body in chunked transfer coding: chunks of chunkSize bytes, the last
// one shorter, then the final zero-size chunk and the empty trailer. A first
// chunk of its own size keeps the top of the page in one piece, as the
// page test searches the body bytes as received.
std::string ChunkBody(const std::string& body, std::size_t chunkSize,
                      std::size_t firstChunkSize = 0);

// A whole HTTP/1.1 response carrying body: with "Transfer-Encoding: chunked"
// (body already chunked) or with a Content-Length.
std::string BuildResponse(const std::string& body, bool chunked);

} // namespace zk::test
