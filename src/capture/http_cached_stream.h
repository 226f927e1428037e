#pragma once

#include "capture/chunked_body_reader.h"
#include "capture/content_coded_body.h"
#include "capture/decode_limits.h"
#include "capture/http2_stream.h"
#include "capture/http2_stream_key.h"
#include "capture/tcp_ip_stream_info.h"
#include "capture/tcp_ip_stream_map.h"

#include <algorithm>
#include <array>
#include <boost/regex.hpp>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zk {

// Where the scan of a header block stopped, so that a block arriving in many
// pieces is scanned once, not again from its first byte with every piece.
struct CHttpHeaderScan
{
    enum class EState
    {
        StatusLine, // looking for the LF that ends the status line
        LineStart,  // in the name, looking for ":" or the LF of a line without one
        Value,
        Quoted,   // a LF does not end the value here
        NextLine, // the first byte of the next line decides on folding
    };
    EState m_state = EState::StatusLine;
    std::size_t m_at = 0; // the next byte to look at
    std::size_t m_lineStart = 0;
    std::size_t m_nameEnd = 0;
    std::size_t m_valueStart = 0;
};

// One response in progress on one stream direction.
struct CTcpIpCache
{
    explicit CTcpIpCache(std::size_t decoderMemoryLimit) : m_contentBody(decoderMemoryLimit) {}

    CTcpIpStreamKey m_key;
    // The response's stream on an HTTP/2 connection m_key is the server's
    // direction of; 0 for HTTP/1.x.
    std::uint32_t m_http2StreamId = 0;
    // From the first byte of the status line; an HTTP/2 response's body
    // alone, its headers having come decoded.
    std::vector<std::uint8_t> m_bytes;
    // A complete header block does not change when body bytes are added, so
    // it is parsed until it is complete and then kept.
    bool m_headerComplete = false;
    CHttpHeaderScan m_headerScan;
    std::size_t m_bodyOffset = 0;
    CSimpleHttpHeaderList m_headers;
    // The page handler's decoding of a body sent with a content coding; its
    // decoders live and die with the response.
    CContentCodedBody m_contentBody;
    // What the response counts against the cache's byte limit: its bytes and
    // the memory of its decoding.
    std::size_t m_heldBytes = 0;
    std::uint64_t m_lastActiveMs = 0;
};

using CTcpIpCachePtr = std::shared_ptr<CTcpIpCache>;

enum class EHttpHeaderBlock
{
    Incomplete, // more bytes may complete it
    Complete,   // the body starts at the offset given
    Invalid,    // the status line does not end in CR LF: it never completes
};

// Why a response left the cache before its page handler was done with it.
enum class EResponseDrop
{
    Idle,      // no bytes for the idle age
    TooLarge,  // it reached the size limit of one response
    CacheFull, // the least recently active, dropped to make room
    Count
};

extern const char kHttpStatusLinePattern[];

// A piece starts a response when it begins with a status line: at least five
// bytes, "HTTP/", a CR LF, and the status-line pattern before the first CR LF.
bool IsHttpResponseStart(const boost::regex& statusLine, const std::uint8_t* data,
                         std::size_t length);

// Bytes that more bytes may make a response start: fewer than maxLength, no
// CR LF yet, and as far as they go, "HTTP/" and the status-line pattern.
bool IsHttpResponseStartPrefix(const boost::regex& statusLine, const std::uint8_t* data,
                               std::size_t length, std::size_t maxLength);

// Scans the header block at the start of a response into a fresh list.
EHttpHeaderBlock ParseHttpHeaderBlock(const std::uint8_t* bytes, std::size_t length,
                                      CSimpleHttpHeaderList& headers, std::size_t& bodyOffset);

// Goes on with a scan of the same bytes, grown since it stopped; headers
// holds the lines the scan has already taken.
EHttpHeaderBlock ContinueHttpHeaderBlock(CHttpHeaderScan& scan, const std::uint8_t* bytes,
                                         std::size_t length, CSimpleHttpHeaderList& headers,
                                         std::size_t& bodyOffset);

// HTTP responses out of stream bytes; hands every response whose body has
// started to T::OnHttpResponse, which answers true while it wants more. A
// response has no end of its own here: it is held until the handler is done
// with it, a new response starts on its stream, its stream is retired, or one
// of the bounds below drops it. An HTTP/2 response comes from the layer
// below as its headers and the DATA of its stream, and ends with the stream.
template <class T> class CHttpCachedStream : public CHttp2Stream<T>
{
public:
    // The bounds of the response cache; CDecodeLimits gives the reasons. The
    // piece that reaches kMaxResponseBytes is presented, then the response
    // is done; the least recently active response is dropped first.
    static constexpr std::size_t kMaxResponseBytes = CDecodeLimits<T>::kMaxResponseBytes;
    static constexpr std::uint64_t kMaxCachedResponseBytes =
        CDecodeLimits<T>::kMaxCachedResponseBytes;
    static constexpr std::size_t kMaxCachedResponses = CDecodeLimits<T>::kMaxCachedResponses;
    static constexpr std::uint64_t kResponseIdleMs = CDecodeLimits<T>::kResponseIdleMs;
    // Where bytes arrive (segments, TLS records, HTTP/2 frames) has nothing
    // to do with where lines begin, so a piece that may be the first part of
    // a status line is held and tested again with the next piece. A status
    // line with the longest reason phrase of RFC 9110 takes some 45 bytes.
    static constexpr std::size_t kMaxHeldStatusBytes = 64;

    CHttpCachedStream()
        : m_statusLine(kHttpStatusLinePattern), m_responses(kMaxCachedResponses),
          m_heldStarts(CDecodeLimits<T>::kMaxStreams)
    {
        m_http2Responses.reserve(kMaxCachedResponses);
    }
    CHttpCachedStream(const CHttpCachedStream&) = delete;
    CHttpCachedStream& operator=(const CHttpCachedStream&) = delete;

    // New in-order bytes of a stream (length >= 1), or the plaintext of one
    // record of a TLS stream.
    void HttpDataIn(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        RetireIdleResponses();
        if (!JoinHeldStart(stream.m_key, data, length))
            ResponseBytesIn(stream.m_key, data, length);
    }

    // The TCP layer has retired the stream: its response gets no more bytes.
    void OnHttpStreamRetired(const CTcpIpStreamKey& key)
    {
        DropResponse(key);
        DropHeldStart(key);
    }

    // Bytes of the stream are missing: its response lacks them, and the
    // next one is looked for in what follows.
    void OnHttpStreamGap(const CTcpIpStreamKey& key)
    {
        static_cast<T*>(this)->OnHttpStreamRetired(key);
    }

    // An HTTP/2 response stream whose headers (without pseudo-headers) have
    // come; its body follows in Http2DataIn until OnHttp2StreamEnded. One
    // that is there already on the stream is abandoned.
    void Http2ResponseIn(const CHttp2StreamKey& key, CSimpleHttpHeaderList headers)
    {
        RetireIdleResponses();
        OnHttp2StreamEnded(key);
        auto response = std::make_shared<CTcpIpCache>(CDecodeLimits<T>::kMaxDecoderBytes);
        response->m_key = key.m_connection;
        response->m_http2StreamId = key.m_streamId;
        response->m_headerComplete = true;
        response->m_headers = std::move(headers);
        response->m_lastActiveMs = this->Now();
        m_recent.push_back(response);
        EnforceCacheLimits();
        m_http2Responses.emplace(key, std::prev(m_recent.end()));
    }

    // Answers whether the stream's response is still held: once it is not
    // (the page handler is done with it, or a bound dropped it), the layer
    // below sends no more of the stream.
    bool Http2DataIn(const CHttp2StreamKey& key, const std::uint8_t* data, std::size_t length)
    {
        RetireIdleResponses();
        auto found = m_http2Responses.find(key);
        if (found == m_http2Responses.end())
            return false;
        if (length > 0)
            ContinueResponse(found->second, data, length);
        return m_http2Responses.count(key) != 0;
    }

    void OnHttp2StreamEnded(const CHttp2StreamKey& key)
    {
        auto found = m_http2Responses.find(key);
        if (found != m_http2Responses.end())
            Erase(found->second);
    }

    std::size_t GetCachedResponseCount() const { return m_recent.size(); }
    std::uint64_t GetResponseDrops(EResponseDrop reason) const
    {
        return m_drops[static_cast<std::size_t>(reason)];
    }

    // The first header whose name matches, compared case-insensitively.
    static CSimpleHttpHeaderPtr FindHeader(const CSimpleHttpHeaderList& headers,
                                           const std::string& name)
    {
        return FindHttpHeader(headers, name);
    }

    static bool IsChunkedBody(const CSimpleHttpHeaderList& headers)
    {
        return IsChunkedHttpBody(headers);
    }

    // Decodes a chunked body as far as its bytes go; false when the body is
    // not chunked or is malformed.
    static bool DecodeChunkedBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                                  std::size_t length, std::string& decoded)
    {
        return DecodeChunkedHttpBody(headers, body, length, decoded);
    }

private:
    // Least recently active first, so that both the idle age and the cache
    // limits find their victim at the front.
    using CRecentList = std::list<CTcpIpCachePtr>;

    // A response begins only where a piece begins: a status line in the
    // middle of a piece is more bytes of the response in progress, and
    // without one the piece is not ours.
    void ResponseBytesIn(const CTcpIpStreamKey& key, const std::uint8_t* data, std::size_t length)
    {
        if (IsHttpResponseStart(m_statusLine, data, length)) {
            // An unfinished earlier response on this stream is abandoned.
            DropResponse(key);
            StartResponse(key, data, length);
            return;
        }
        if (IsHttpResponseStartPrefix(m_statusLine, data, length, kMaxHeldStatusBytes) &&
            HoldStart(key, data, length))
            return;
        if (auto* found = m_responses.Find(key))
            ContinueResponse(*found, data, length);
    }

    // Puts bytes held from earlier pieces in front of this one: true when
    // the two together started a response or are held again, false when the
    // piece is still to be taken on its own.
    bool JoinHeldStart(const CTcpIpStreamKey& key, const std::uint8_t* data, std::size_t length)
    {
        std::string* found = m_heldStarts.Find(key);
        if (!found)
            return false;
        std::string held = std::move(*found);
        m_heldStarts.Erase(key);
        this->m_stats.m_responseBytes -= held.size();
        std::vector<std::uint8_t> joined(held.begin(), held.end());
        joined.insert(joined.end(), data, data + length);
        if (IsHttpResponseStart(m_statusLine, joined.data(), joined.size())) {
            DropResponse(key);
            StartResponse(key, joined.data(), joined.size());
            return true;
        }
        if (IsHttpResponseStartPrefix(m_statusLine, joined.data(), joined.size(),
                                      kMaxHeldStatusBytes) &&
            HoldStart(key, joined.data(), joined.size()))
            return true;
        // The held bytes began no status line: they are more bytes of the
        // response in progress, and the piece may still start one itself.
        if (auto* response = m_responses.Find(key))
            ContinueResponse(*response, reinterpret_cast<const std::uint8_t*>(held.data()),
                             held.size());
        return false;
    }

    // False when the table is full; it holds one entry per stream at most,
    // as many as the TCP layer keeps streams.
    bool HoldStart(const CTcpIpStreamKey& key, const std::uint8_t* data, std::size_t length)
    {
        if (!m_heldStarts.Insert(key, std::string(reinterpret_cast<const char*>(data), length)))
            return false;
        // Held bytes count with the responses' and make room the same way.
        this->m_stats.m_responseBytes += length;
        EnforceCacheLimits();
        return true;
    }

    void DropHeldStart(const CTcpIpStreamKey& key)
    {
        if (std::string* found = m_heldStarts.Find(key)) {
            this->m_stats.m_responseBytes -= found->size();
            m_heldStarts.Erase(key);
        }
    }

    void StartResponse(const CTcpIpStreamKey& key, const std::uint8_t* data, std::size_t length)
    {
        auto response = std::make_shared<CTcpIpCache>(CDecodeLimits<T>::kMaxDecoderBytes);
        response->m_key = key;
        std::size_t size = std::min(length, kMaxResponseBytes);
        // The server may send the header block and the first body bytes in
        // one piece, so the handler can decide before anything is copied.
        if (!Process(*response, data, size))
            return;
        if (size == ByteLimit(*response)) {
            CountDrop(EResponseDrop::TooLarge, *response);
            return;
        }
        response->m_bytes.assign(data, data + size);
        response->m_lastActiveMs = this->Now();
        CountHeldBytes(*response);
        m_recent.push_back(response);
        // Room is made before the new response enters the lookup table, which
        // holds no more than the cache may.
        EnforceCacheLimits();
        if (m_recent.empty() || m_recent.back() != response)
            return;
        m_responses.Insert(key, std::prev(m_recent.end()));
        // A coded body may take more bytes than the first look allowed.
        if (size < length)
            ContinueResponse(std::prev(m_recent.end()), data + size, length - size);
    }

    // Until it is decided, a response sent with a content coding may take
    // the bytes its first decoded bytes need.
    static std::size_t ByteLimit(const CTcpIpCache& response)
    {
        return response.m_contentBody.State() == ECodedBody::Decoding
                   ? std::max(kMaxResponseBytes, CDecodeLimits<T>::kMaxCodedResponseBytes)
                   : kMaxResponseBytes;
    }

    // A coded response dropped while it decodes is a page, maybe, lost to
    // a bound.
    void CountDrop(EResponseDrop reason, const CTcpIpCache& response)
    {
        ++m_drops[static_cast<std::size_t>(reason)];
        if (reason != EResponseDrop::Idle && response.m_contentBody.State() == ECodedBody::Decoding)
            ++this->m_stats.m_codingsCapped;
    }

    void ContinueResponse(typename CRecentList::iterator at, const std::uint8_t* data,
                          std::size_t length)
    {
        CTcpIpCachePtr response = *at;
        bool keep = true;
        std::size_t taken = 0;
        // The limit grows once the header block shows a coded body; the rest
        // of the piece then goes in too.
        for (;;) {
            std::size_t limit = ByteLimit(*response);
            std::size_t add = std::min(length - taken, limit - response->m_bytes.size());
            response->m_bytes.insert(response->m_bytes.end(), data + taken, data + taken + add);
            taken += add;
            keep = Process(*response, response->m_bytes.data(), response->m_bytes.size());
            if (!keep || taken == length || ByteLimit(*response) <= limit)
                break;
        }
        CountHeldBytes(*response);
        if (keep && response->m_bytes.size() >= ByteLimit(*response)) {
            CountDrop(EResponseDrop::TooLarge, *response);
            keep = false;
        }
        if (!keep) {
            Erase(at);
            return;
        }
        response->m_lastActiveMs = this->Now();
        m_recent.splice(m_recent.end(), m_recent, at);
        EnforceCacheLimits();
    }

    // Goes on parsing the header block where the last piece left it and
    // offers the body to the page handler once at least one body byte is
    // there: true to keep the response.
    bool Process(CTcpIpCache& response, const std::uint8_t* bytes, std::size_t size)
    {
        if (!response.m_headerComplete) {
            EHttpHeaderBlock block = ContinueHttpHeaderBlock(
                response.m_headerScan, bytes, size, response.m_headers, response.m_bodyOffset);
            // A block that can never complete never reaches the handler,
            // so there is nothing to hold it for.
            if (block == EHttpHeaderBlock::Invalid)
                return false;
            if (block == EHttpHeaderBlock::Incomplete)
                return true;
            response.m_headerComplete = true;
        }
        if (response.m_bodyOffset == size)
            return true;
        return static_cast<T*>(this)->OnHttpResponse(
            response.m_headers, bytes + response.m_bodyOffset, size - response.m_bodyOffset,
            response.m_contentBody);
    }

    // The response's bytes and its decoders' memory count against the
    // cache's byte limit; what they hold changes with every piece.
    void CountHeldBytes(CTcpIpCache& response)
    {
        std::size_t held = response.m_bytes.size() + response.m_contentBody.MemoryBytes();
        this->m_stats.m_responseBytes += held;
        this->m_stats.m_responseBytes -= response.m_heldBytes;
        response.m_heldBytes = held;
    }

    void RetireIdleResponses()
    {
        std::uint64_t now = this->Now();
        while (!m_recent.empty()) {
            std::uint64_t last = m_recent.front()->m_lastActiveMs;
            if (now < last || now - last < kResponseIdleMs)
                return;
            CountDrop(EResponseDrop::Idle, *m_recent.front());
            Erase(m_recent.begin());
        }
    }

    void EnforceCacheLimits()
    {
        while (!m_recent.empty() && (this->m_stats.m_responseBytes > kMaxCachedResponseBytes ||
                                     m_recent.size() > kMaxCachedResponses)) {
            CountDrop(EResponseDrop::CacheFull, *m_recent.front());
            Erase(m_recent.begin());
        }
    }

    void DropResponse(const CTcpIpStreamKey& key)
    {
        if (auto* found = m_responses.Find(key))
            Erase(*found);
    }

    void Erase(typename CRecentList::iterator at)
    {
        this->m_stats.m_responseBytes -= (*at)->m_heldBytes;
        if ((*at)->m_http2StreamId)
            m_http2Responses.erase(CHttp2StreamKey{(*at)->m_key, (*at)->m_http2StreamId});
        else
            m_responses.Erase((*at)->m_key);
        m_recent.erase(at);
    }

    boost::regex m_statusLine;
    CRecentList m_recent;
    CTcpIpStreamMap<typename CRecentList::iterator> m_responses;
    // What may begin a status line, per stream, until its next piece.
    CTcpIpStreamMap<std::string> m_heldStarts;
    std::unordered_map<CHttp2StreamKey, typename CRecentList::iterator, CHttp2StreamKeyHash>
        m_http2Responses;
    std::array<std::uint64_t, static_cast<std::size_t>(EResponseDrop::Count)> m_drops{};
};

} // namespace zk
