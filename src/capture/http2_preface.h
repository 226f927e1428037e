#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// How the first bytes of a direction say that a connection speaks HTTP/2 in
// the clear or after TLS (RFC 9113, section 3): the client's connection
// preface, the server's SETTINGS frame on stream 0, or a 101 response that
// switches an HTTP/1.1 connection to h2c (RFC 7540, section 3.2).

// The first bytes of the client's preface, "PRI * HTTP/2.0" and its line
// end, are needed at least: no HTTP/1.x request starts so.
constexpr std::size_t kHttp2ClientPrefaceLineBytes = 16;

// A piece that starts with the client's connection preface, as far as the
// piece goes (at least its first line).
bool IsHttp2ClientPreface(const std::uint8_t* data, std::size_t length);

// A piece that starts with a whole SETTINGS frame on stream 0 that is not an
// acknowledgement, of at most maxFrameBytes: the server's preface.
bool IsHttp2ServerPreface(const std::uint8_t* data, std::size_t length, std::size_t maxFrameBytes);

// A piece that starts like an HTTP/1.x response, "HTTP/1.", which no
// HTTP/2 frame header does: it would be longer than any frame read.
bool IsHttp1Response(const std::uint8_t* data, std::size_t length);

// A piece that starts with a whole "101 Switching Protocols" head naming h2c
// in its Upgrade header; framesAt is then where the server's frames begin.
bool IsH2cUpgrade(const std::uint8_t* data, std::size_t length, std::size_t& framesAt);

} // namespace zk
