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
    // The decoders of one response sent with content codings, together: the
    // largest window a zstd sender may use for HTTP (8 MiB, RFC 9659) and
    // the buffers around it. Real pages need far less (a window no larger
    // than the page, some 40 KiB for gzip), and a stream asking for more is
    // given up; what the decoders hold counts towards the cache's limit.
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
};

} // namespace zk
