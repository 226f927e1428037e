#pragma once

#include "capture/decode_limits.h"
#include "capture/http2_frame_reader.h"
#include "capture/http2_preface.h"
#include "capture/http2_stream_key.h"
#include "capture/simple_http_header.h"
#include "capture/tcp_ip_stream.h"
#include "capture/tcp_ip_stream_info.h"
#include "capture/tcp_ip_stream_map.h"
#include "capture/tls_stream.h"
#include "platform/hpack_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zk {

// How one direction of a stream is read.
enum class EHttp2Role
{
    Plain,  // not HTTP/2: its bytes go up unchanged
    Server, // the server's side of an HTTP/2 connection: frames
    Client, // the client's side: requests, which nothing above reads
};

// One HTTP/2 connection, read in its server's direction.
struct CHttp2Connection
{
    CHttp2Connection(const CTcpIpStreamKey& server, std::size_t maxFrameBytes,
                     std::size_t maxHeaderBlockBytes)
        : m_server(server), m_reader(maxFrameBytes, maxHeaderBlockBytes)
    {}

    CTcpIpStreamKey m_server;
    CHttp2FrameReader m_reader;
    std::unique_ptr<CHpackDecoder> m_decoder; // null once the header state is lost
    // The response streams whose body goes up, oldest first.
    std::vector<std::uint32_t> m_open;
    std::size_t m_heldBytes = 0; // what it counts in the decode statistics
};

// The layer between the TLS layer and the HTTP layer that turns HTTP/2
// connections into responses: each response stream goes up through
// T::Http2ResponseIn (its headers), T::Http2DataIn (its DATA bytes) and
// T::OnHttp2StreamEnded, keyed by connection and stream. Every stream that
// is not HTTP/2 goes up unchanged to T::HttpDataIn, T::OnHttpStreamRetired
// and T::OnHttpStreamGap, at the cost of one lookup per piece.
//
// A connection is HTTP/2 when the TLS layer reports the ALPN "h2", when the
// client's first bytes are the connection preface, when the server's first
// bytes are a SETTINGS frame, or after a 101 response switching to h2c. Only
// the server's direction is read. Its header blocks go through one HPACK
// decoder, which carries its table from block to block: a block that is
// missed or fails breaks every later one, so then the connection's header
// state is lost and the connection is no longer read.
template <class T> class CHttp2Stream : public CTlsStream<T>
{
public:
    // The bounds of the HTTP/2 layer; CDecodeLimits gives the reasons.
    static constexpr std::size_t kMaxHttp2FrameBytes = CDecodeLimits<T>::kMaxHttp2FrameBytes;
    static constexpr std::size_t kMaxHttp2HeaderBlockBytes =
        CDecodeLimits<T>::kMaxHttp2HeaderBlockBytes;
    static constexpr std::size_t kMaxHttp2HeaderListBytes =
        CDecodeLimits<T>::kMaxHttp2HeaderListBytes;
    static constexpr std::size_t kMaxHpackDecoderBytes = CDecodeLimits<T>::kMaxHpackDecoderBytes;
    static constexpr std::size_t kMaxHttp2Streams = CDecodeLimits<T>::kMaxHttp2Streams;
    static constexpr std::size_t kMaxHttp2StateBytes = CDecodeLimits<T>::kMaxHttp2StateBytes;
    // A server's "HTTP/1." read as a frame header is a frame of 0x485454
    // bytes, which must be refused for the layer to tell one apart.
    static_assert(kMaxHttp2FrameBytes < 0x485454);

    // Every direction the TCP layer follows may have an entry here.
    CHttp2Stream() : m_directions(CDecodeLimits<T>::kMaxStreams) {}
    CHttp2Stream(const CHttp2Stream&) = delete;
    CHttp2Stream& operator=(const CHttp2Stream&) = delete;

    // New in-order bytes of a stream (length >= 1), or the plaintext of one
    // record of a TLS stream.
    void TlsDataIn(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        CDirection* direction = m_directions.Find(stream.m_key);
        if (!direction) {
            direction = FirstPiece(stream.m_key, data, length);
        } else if (IsHttp2ClientPreface(data, length)) {
            // A SYN that opens the stream again is no retirement, so a new
            // connection on the same ports finds the old one's entries: its
            // preface starts it afresh.
            direction = ClientPreface(stream.m_key, true);
        } else if (direction->m_role == EHttp2Role::Server &&
                   direction->m_connection->m_reader.IsIdle() && IsHttp1Response(data, length)) {
            // No frame starts with these bytes: a new connection on the
            // same ports speaks HTTP/1.x.
            EndConnection(direction->m_connection);
            direction->m_role = EHttp2Role::Plain;
        }
        if (!direction || direction->m_role == EHttp2Role::Plain) {
            std::size_t framesAt = 0;
            if (direction && IsH2cUpgrade(data, length, framesAt)) {
                // The 101 head is not a response of its own; the frames
                // after it are the server's preface and the response to
                // the request that asked for the upgrade.
                StartConnection(stream.m_key, *direction);
                ReadServerBytes(*direction, data + framesAt, length - framesAt);
                return;
            }
            static_cast<T*>(this)->HttpDataIn(stream, data, length);
            return;
        }
        if (direction->m_role == EHttp2Role::Server)
            ReadServerBytes(*direction, data, length);
    }

    // The TCP layer has retired the stream: every response stream of its
    // connection ends with it.
    void OnTlsStreamRetired(const CTcpIpStreamKey& key)
    {
        if (CDirection* direction = m_directions.Find(key)) {
            if (direction->m_role == EHttp2Role::Server)
                EndConnection(direction->m_connection);
            m_directions.Erase(key);
        }
        static_cast<T*>(this)->OnHttpStreamRetired(key);
    }

    // Bytes of the stream are missing: a connection that was read as HTTP/2
    // has lost a frame, and with it perhaps a header block.
    void OnTlsStreamGap(const CTcpIpStreamKey& key)
    {
        CDirection* direction = m_directions.Find(key);
        if (direction && direction->m_role == EHttp2Role::Server)
            LoseHeaderState(*direction->m_connection);
        static_cast<T*>(this)->OnHttpStreamGap(key);
    }

    // The TLS layer's handshake chose an application protocol, before the
    // first decrypted byte of the connection.
    void OnTlsAlpn(const CTcpIpStreamKey& serverToClientKey, std::string_view alpn)
    {
        if (alpn != "h2")
            return;
        CDirection* direction = m_directions.Find(serverToClientKey);
        if (!direction) {
            if (!m_directions.Insert(serverToClientKey, CDirection{}))
                return;
            direction = m_directions.Find(serverToClientKey);
        } else if (direction->m_role == EHttp2Role::Server) {
            // The ports were used again: the earlier connection has ended.
            EndConnection(direction->m_connection);
            direction->m_role = EHttp2Role::Plain;
        }
        StartConnection(serverToClientKey, *direction);
    }

    std::size_t GetHttp2ConnectionCount() const { return m_connections.size(); }

private:
    using CConnectionList = std::list<CHttp2Connection>;

    struct CDirection
    {
        EHttp2Role m_role = EHttp2Role::Plain;
        typename CConnectionList::iterator m_connection{}; // valid for Server
    };

    // The fields of one header block, as they are decoded.
    struct CHeaderBlockFields
    {
        CSimpleHttpHeaderList m_headers;
        std::string m_status;
        std::size_t m_listBytes = 0;
        bool m_tooLarge = false;

        void operator()(std::string_view name, std::string_view value)
        {
            // Counted as SETTINGS_MAX_HEADER_LIST_SIZE counts (RFC 9113,
            // section 6.5.2); beyond the bound the fields are dropped, but
            // the block is still decoded to keep the table in step.
            m_listBytes += name.size() + value.size() + 32;
            if (m_listBytes > kMaxHttp2HeaderListBytes) {
                m_tooLarge = true;
                return;
            }
            if (!name.empty() && name[0] == ':') {
                if (name == ":status")
                    m_status = value;
                return;
            }
            auto header = std::make_shared<CSimpleHttpHeader>();
            header->m_name = name;
            header->m_value = value;
            m_headers.push_back(std::move(header));
        }
    };

    // The first bytes the layer sees of a direction decide how it is read.
    CDirection* FirstPiece(const CTcpIpStreamKey& key, const std::uint8_t* data, std::size_t length)
    {
        if (!m_directions.Insert(key, CDirection{}))
            return nullptr;
        CDirection* direction = m_directions.Find(key);
        if (IsHttp2ServerPreface(data, length, kMaxHttp2FrameBytes)) {
            StartConnection(key, *direction);
            return direction;
        }
        if (!IsHttp2ClientPreface(data, length))
            return direction;
        return ClientPreface(key, false);
    }

    // The client's preface on the direction of key, which has its entry.
    // The server's direction is read from its first byte, if the TCP layer
    // follows it; unless the connection starts again, one that has begun
    // already is left as it is (its preface may have come first).
    CDirection* ClientPreface(const CTcpIpStreamKey& key, bool again)
    {
        CDirection* client = m_directions.Find(key);
        if (client->m_role == EHttp2Role::Server)
            EndConnection(client->m_connection);
        client->m_role = EHttp2Role::Client;
        CTcpIpStreamKey server = key.Reversed();
        CDirection* direction = m_directions.Find(server);
        if (direction && again) {
            if (direction->m_role == EHttp2Role::Server)
                EndConnection(direction->m_connection);
            StartConnection(server, *direction);
        } else if (!direction && this->FindStream(server) &&
                   m_directions.Insert(server, CDirection{})) {
            StartConnection(server, *m_directions.Find(server));
        }
        return m_directions.Find(key);
    }

    void StartConnection(const CTcpIpStreamKey& server, CDirection& direction)
    {
        m_connections.emplace_front(server, kMaxHttp2FrameBytes, kMaxHttp2HeaderBlockBytes);
        CHttp2Connection& connection = m_connections.front();
        connection.m_decoder = CHpackDecoder::Create(kMaxHpackDecoderBytes);
        direction.m_role = EHttp2Role::Server;
        direction.m_connection = m_connections.begin();
        ++this->m_stats.m_http2Connections;
        CountHeldBytes(connection);
    }

    void ReadServerBytes(CDirection& direction, const std::uint8_t* data, std::size_t length)
    {
        CHttp2Connection& connection = *direction.m_connection;
        if (!connection.m_decoder)
            return;
        CHttp2Event event;
        bool reading = true;
        while (reading) {
            switch (connection.m_reader.Read(data, length, event)) {
            case EHttp2Event::NeedMore:
                reading = false;
                break;
            case EHttp2Event::Error:
                LoseHeaderState(connection);
                return;
            case EHttp2Event::HeaderBlock:
                if (!HeaderBlockIn(connection, event)) {
                    LoseHeaderState(connection);
                    return;
                }
                break;
            case EHttp2Event::Data: {
                // A stream whose response the HTTP layer no longer holds is
                // forgotten, so that the rest of its DATA costs nothing.
                auto open =
                    std::find(connection.m_open.begin(), connection.m_open.end(), event.m_streamId);
                if (open != connection.m_open.end() &&
                    !static_cast<T*>(this)->Http2DataIn(Key(connection, event.m_streamId),
                                                        event.m_data, event.m_length))
                    connection.m_open.erase(open);
                break;
            }
            case EHttp2Event::StreamEnd:
            case EHttp2Event::Reset:
                EndStream(connection, event.m_streamId);
                break;
            case EHttp2Event::GoAway:
                // Streams above the last one the server took up will get
                // nothing more (RFC 9113, section 6.8).
                EndStreamsAbove(connection, event.m_lastStreamId);
                break;
            }
        }
        // The connection is the most recently active; room is made among
        // the others, the least recently active first.
        m_connections.splice(m_connections.begin(), m_connections, direction.m_connection);
        CountHeldBytes(connection);
        for (auto other = m_connections.rbegin();
             this->m_stats.m_http2Bytes > kMaxHttp2StateBytes && other != m_connections.rend();
             ++other) {
            if (&*other != &connection)
                LoseHeaderState(*other);
        }
    }

    // A whole header block: a response's headers start its stream, unless
    // it is informational (1xx) or ends the stream at once; a block without
    // a status is a trailer or a request's, and keeps only the table in
    // step. False when the block fails to decode.
    bool HeaderBlockIn(CHttp2Connection& connection, const CHttp2Event& event)
    {
        CHeaderBlockFields fields;
        if (!connection.m_decoder->Decode(event.m_data, event.m_length, fields))
            return false;
        const std::string& status = fields.m_status;
        bool final = !event.m_promise && status.size() == 3 && status[0] >= '2' && status[0] <= '9';
        if (final)
            ++this->m_stats.m_http2Streams;
        if (final && !event.m_endStream && !fields.m_tooLarge) {
            if (!IsOpen(connection, event.m_streamId)) {
                if (connection.m_open.size() >= kMaxHttp2Streams)
                    EndStream(connection, connection.m_open.front());
                connection.m_open.push_back(event.m_streamId);
            }
            static_cast<T*>(this)->Http2ResponseIn(Key(connection, event.m_streamId),
                                                   std::move(fields.m_headers));
            return true;
        }
        if (final || event.m_endStream)
            EndStream(connection, event.m_streamId);
        return true;
    }

    static bool IsOpen(const CHttp2Connection& connection, std::uint32_t streamId)
    {
        return std::find(connection.m_open.begin(), connection.m_open.end(), streamId) !=
               connection.m_open.end();
    }

    static CHttp2StreamKey Key(const CHttp2Connection& connection, std::uint32_t streamId)
    {
        return CHttp2StreamKey{connection.m_server, streamId};
    }

    void EndStream(CHttp2Connection& connection, std::uint32_t streamId)
    {
        auto found = std::find(connection.m_open.begin(), connection.m_open.end(), streamId);
        if (found == connection.m_open.end())
            return;
        connection.m_open.erase(found);
        static_cast<T*>(this)->OnHttp2StreamEnded(Key(connection, streamId));
    }

    void EndStreamsAbove(CHttp2Connection& connection, std::uint32_t lastStreamId)
    {
        std::vector<std::uint32_t> open = connection.m_open;
        for (std::uint32_t streamId : open) {
            if (streamId > lastStreamId)
                EndStream(connection, streamId);
        }
    }

    void EndAllStreams(CHttp2Connection& connection)
    {
        std::vector<std::uint32_t> open;
        open.swap(connection.m_open);
        for (std::uint32_t streamId : open)
            static_cast<T*>(this)->OnHttp2StreamEnded(Key(connection, streamId));
    }

    // The connection is not read any more: its streams end, and what it
    // held is let go. It stays in the table, so that its later bytes are
    // not taken for something else.
    void LoseHeaderState(CHttp2Connection& connection)
    {
        if (!connection.m_decoder)
            return;
        ++this->m_stats.m_http2HeaderStateLost;
        EndAllStreams(connection);
        connection.m_decoder.reset();
        connection.m_reader = CHttp2FrameReader(kMaxHttp2FrameBytes, kMaxHttp2HeaderBlockBytes);
        CountHeldBytes(connection);
    }

    void EndConnection(typename CConnectionList::iterator connection)
    {
        EndAllStreams(*connection);
        this->m_stats.m_http2Bytes -= connection->m_heldBytes;
        m_connections.erase(connection);
    }

    void CountHeldBytes(CHttp2Connection& connection)
    {
        std::size_t held = connection.m_reader.MemoryBytes() +
                           (connection.m_decoder ? connection.m_decoder->MemoryBytes() : 0);
        this->m_stats.m_http2Bytes += held;
        this->m_stats.m_http2Bytes -= connection.m_heldBytes;
        connection.m_heldBytes = held;
    }

    CTcpIpStreamMap<CDirection> m_directions;
    // Most recently active first.
    CConnectionList m_connections;
};

} // namespace zk
