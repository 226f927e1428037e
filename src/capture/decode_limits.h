#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// The bounds of the decoding chain's stream table and response cache, for a
// chain whose final class is T. Every chain of the program takes these; a
// chain built only to exercise the code (the fuzzer's) specialises this for
// its own class with small values, so that every bound is hit within a few
// packets.
template <class T> struct CDecodeLimits
{
    // A stream without segments for this long is retired with its cache. An
    // idle keep-alive connection is closed by browsers and servers after a
    // few minutes at most, so what is quiet for ten has ended; its data would
    // be lost as that of a connection opened before capture started.
    static constexpr std::uint64_t kStreamIdleMs = 10 * 60 * 1000;
    // Both directions of 4096 connections, far beyond what a desktop keeps
    // open; an entry without cached segments takes a few hundred bytes.
    static constexpr std::size_t kMaxStreams = 8192;
    // One stream's cache: a gap is filled within a round trip, and 1 MiB is
    // more than a window in flight on a fast home link. The byte limits
    // count what a cache costs, each run's bookkeeping with its bytes, so
    // that tiny runs cannot hold more than the limits say; the run count
    // keeps a stream's cache small in entries as well.
    static constexpr std::size_t kMaxStreamCacheBytes = 1024 * 1024;
    static constexpr std::size_t kMaxStreamCacheSegments = 1024;
    // All caches together: sixteen streams with full caches.
    static constexpr std::size_t kMaxCacheBytes = 16 * 1024 * 1024;

    // The page handler decides within 8000 body bytes. 64 KiB leaves room for
    // a header block of the 8 to 16 KiB servers accept and for the size lines
    // of a chunked body, and bounds the work of re-parsing and re-presenting
    // the whole response with every piece.
    static constexpr std::size_t kMaxResponseBytes = 64 * 1024;
    // A body sent with a content coding is decided on its decoded bytes, and
    // zstd decodes a block only once all of it is there: a first block of
    // up to 128 KiB (a page that does not compress much, at the levels
    // servers use) plus the header block and the size lines of a chunked
    // body. Until it is decided, a coded response may hold this many bytes.
    static constexpr std::size_t kMaxCodedResponseBytes = 192 * 1024;
    // The decoders of one response sent with content codings, together: the
    // largest window a brotli or zstd sender may use for HTTP (8 MiB for
    // zstd, RFC 9659) and the buffers around it. Real pages need far less (a
    // window no larger than the page, some 40 KiB for gzip; zstd keeps its
    // window in the decoded bytes and needs some 250 KiB beside them), and a
    // stream asking for more is given up; what the decoders hold counts
    // towards the cache's limit.
    static constexpr std::size_t kMaxDecoderBytes = 8 * 1024 * 1024 + 768 * 1024;
    // A browser keeps some hundreds of connections at most, each holding a
    // few KiB while its page is decided; 16 MiB is 256 responses at their
    // limit.
    static constexpr std::uint64_t kMaxCachedResponseBytes = 16 * 1024 * 1024;
    // Counts entries, so that many tiny responses cannot hold more memory in
    // bookkeeping than the byte limit allows in bytes.
    static constexpr std::size_t kMaxCachedResponses = 4096;
    // A response that has had no byte for two minutes will not get more:
    // servers give up on a stalled connection after about a minute. A
    // response with no body yet (a 304, a reply to HEAD) would otherwise wait
    // for the next response on its connection.
    static constexpr std::uint64_t kResponseIdleMs = 120 * 1000;

    // HTTP/2 connections. A frame may be as long as the client allowed in
    // its SETTINGS_MAX_FRAME_SIZE, which goes the way that is usually not
    // read: 16384 unless raised, and browsers do not raise it. 1 MiB leaves
    // room for clients that do; a longer frame says the framing is lost.
    // DATA goes through as it comes, so a long frame holds nothing.
    static constexpr std::size_t kMaxHttp2FrameBytes = 1024 * 1024;
    // A header block as sent, its CONTINUATION frames joined: servers send
    // a few hundred bytes, and a block this long is held whole before it is
    // decoded. A longer one cannot be skipped, since it may change the
    // header table: the connection's header state is then lost.
    static constexpr std::size_t kMaxHttp2HeaderBlockBytes = 64 * 1024;
    // The headers of one response as decoded, counted as
    // SETTINGS_MAX_HEADER_LIST_SIZE counts them (each field's name, value
    // and 32 bytes): as much as an HTTP/1.x response may hold. A response
    // with more is not followed, though its block is still decoded.
    static constexpr std::size_t kMaxHttp2HeaderListBytes = kMaxResponseBytes;
    // One connection's HPACK decoder: a table of 65536 bytes of entries
    // costs the library less than twice that, with its bookkeeping.
    static constexpr std::size_t kMaxHpackDecoderBytes = 256 * 1024;
    // Response streams followed at once on one connection: servers let a
    // client open 100 or 128. Beyond that the oldest is given up. Each
    // stream's response is held by the HTTP layer within kMaxResponseBytes
    // (its body alone, the headers being decoded apart) and counts among
    // the kMaxCachedResponses.
    static constexpr std::size_t kMaxHttp2Streams = 256;
    // The header state of all HTTP/2 connections together (decoders and the
    // header blocks held): 64 connections at their limit, far more than a
    // browser keeps with tables of the usual few KiB. Beyond it the least
    // recently active connection loses its header state.
    static constexpr std::size_t kMaxHttp2StateBytes = 16 * 1024 * 1024;
};

} // namespace zk
