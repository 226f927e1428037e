// zk-fuzz-chain: feeds arbitrary datagram sequences through the whole
// decoding chain (IP layer, TCP streams, HTTP/2 frames and header blocks,
// HTTP responses, page handler) with small bounds, so that every bound and
// every drop path is reached within a few packets. An input is a sequence of records:
//
//   1 byte   how far the chain's clock moves before the datagram, in steps
//            of kClockStepMs
//   2 bytes  the datagram's length, big-endian
//   N bytes  the datagram (fewer when the input ends first)
//
// Besides what the sanitizers catch, a bound that does not hold, or a person
// reported without an id or a nickname, is a crash.

#include "capture/decode_limits.h"
#include "capture/http_cached_stream.h"
#include "capture/zarumate_sock.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zk {

class CFuzzChain;

template <> struct CDecodeLimits<CFuzzChain>
{
    static constexpr std::uint64_t kStreamIdleMs = 2000;
    static constexpr std::size_t kMaxStreams = 8;
    static constexpr std::size_t kMaxStreamCacheBytes = 4096;
    static constexpr std::size_t kMaxStreamCacheSegments = 8;
    static constexpr std::size_t kMaxCacheBytes = 8192;
    static constexpr std::size_t kMaxResponseBytes = 12 * 1024;
    static constexpr std::size_t kMaxCodedResponseBytes = 24 * 1024;
    // Room for one gzip or deflate decoder (its 32 KiB window and state), a
    // small brotli or zstd window, and the decoded bytes; larger windows
    // reach the limit.
    static constexpr std::size_t kMaxDecoderBytes = 96 * 1024;
    static constexpr std::uint64_t kMaxCachedResponseBytes = 160 * 1024;
    static constexpr std::size_t kMaxCachedResponses = 4;
    static constexpr std::uint64_t kResponseIdleMs = 1000;
    // Small HTTP/2 bounds: a long header block, a large table or a third
    // connection reaches them.
    static constexpr std::size_t kMaxHttp2FrameBytes = 16 * 1024;
    static constexpr std::size_t kMaxHttp2HeaderBlockBytes = 2048;
    static constexpr std::size_t kMaxHttp2HeaderListBytes = 2048;
    static constexpr std::size_t kMaxHpackDecoderBytes = 32 * 1024;
    static constexpr std::size_t kMaxHttp2Streams = 3;
    static constexpr std::size_t kMaxHttp2StateBytes = 80 * 1024;
};

namespace {

constexpr std::uint64_t kClockStepMs = 50;
// The page handler decodes no more than it decides a page on.
constexpr std::size_t kMaxDecodedBytes = 8000;
// The decoded bytes and the buffers between stacked codings sit beside the
// decoders' own memory.
constexpr std::size_t kDecodedSlackBytes =
    kMaxDecodedBytes + CContentCodedBody::kStableOutputSlackBytes +
    (CContentCodedBody::kMaxCodings - 1) * CContentCodedBody::kStageBufferBytes;
constexpr std::size_t kRecordHeaderBytes = 3;

[[noreturn]] void Fail()
{
    __builtin_trap();
}

class CFuzzReports : public CZarumateSockClient
{
public:
    void OnZarumateFound(const CZarumateDataPtr& data) override
    {
        if (!data || data->m_id.empty() || data->m_name.empty())
            Fail();
    }
};

} // namespace

// The chain with the program's page handler on top. The handler lives in a
// capture object whose thread is never started.
class CFuzzChain : public CHttpCachedStream<CFuzzChain>
{
public:
    explicit CFuzzChain(CZarumateSock& pageHandler) : m_pageHandler(pageHandler) {}

    bool OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                        std::size_t length, CContentCodedBody& coded)
    {
        bool keep = m_pageHandler.OnHttpResponse(headers, body, length, coded);
        // The decoding never holds more than its limit, and never more
        // decoded bytes than the page handler can use.
        if (coded.MemoryBytes() >
                CDecodeLimits<CFuzzChain>::kMaxDecoderBytes + kDecodedSlackBytes ||
            coded.Decoded().size() > kMaxDecodedBytes)
            Fail();
        return keep;
    }

    void CheckBounds() const
    {
        using CLimits = CDecodeLimits<CFuzzChain>;
        const CDecodeStats& stats = GetDecodeStats();
        if (StreamCount() > CLimits::kMaxStreams || stats.m_streams != StreamCount() ||
            stats.m_segmentBytes > CLimits::kMaxCacheBytes + CLimits::kMaxStreamCacheBytes ||
            stats.m_responseBytes > CLimits::kMaxCachedResponseBytes ||
            GetCachedResponseCount() > CLimits::kMaxCachedResponses ||
            stats.m_fragmentBytes > CIpFragmentTable::kMaxBytes)
            Fail();
        // The HTTP/2 layer's header state: beyond its bound only by what the
        // connection just read holds (its decoder and a block buffer grown
        // to twice its bound at most).
        if (stats.m_http2Bytes > CLimits::kMaxHttp2StateBytes + CLimits::kMaxHpackDecoderBytes +
                                     2 * CLimits::kMaxHttp2HeaderBlockBytes ||
            GetHttp2ConnectionCount() > CLimits::kMaxStreams)
            Fail();
    }

private:
    CZarumateSock& m_pageHandler;
};

} // namespace zk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Compiling the page handler's patterns costs more than most inputs, so
    // one handler serves every input; it keeps no state between responses.
    static zk::CFuzzReports reports;
    static zk::CZarumateSock* pageHandler = [] {
        auto* sock = new zk::CZarumateSock;
        sock->SetClient(&reports);
        return sock;
    }();

    auto chain = std::make_unique<zk::CFuzzChain>(*pageHandler);
    std::uint64_t now = 0;
    std::size_t at = 0;
    while (size - at >= zk::kRecordHeaderBytes) {
        now += data[at] * zk::kClockStepMs;
        std::size_t length = static_cast<std::size_t>(data[at + 1] << 8 | data[at + 2]);
        at += zk::kRecordHeaderBytes;
        if (length > size - at)
            length = size - at;
        // Each datagram sits in an allocation of its own exact size, so a
        // read past its end is caught.
        std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[length ? length : 1]);
        std::copy(data + at, data + at + length, datagram.get());
        at += length;
        chain->SetClock(now);
        chain->IpDatagramIn(datagram.get(), length);
        chain->CheckBounds();
    }
    return 0;
}
