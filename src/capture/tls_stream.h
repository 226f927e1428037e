#pragma once

#include "base/portal_hosts.h"
#include "capture/tcp_ip_stream.h"
#include "capture/tcp_ip_stream_info.h"
#include "capture/tls_connection.h"
#include "capture/tls_key_log.h"
#include "capture/tls_record_reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zk {

// The portal's hosts as a ClientHello names them, lower case.
std::array<std::string, 5> PortalTlsHosts();

// A stream whose client begins with a TLS handshake record is read as TLS:
// the server's direction is opened with the secrets of the browser's key log
// and each record's plaintext goes up as the stream's bytes. Only
// connections to the portal's hosts are read; other sites' TLS costs a
// lookup a piece. A stream that does not begin with TLS goes up untouched.
template <class T> class CTlsStream : public CTcpIpStream<T>
{
public:
    // Waiting records are retried on the capture loop's idle turn at most
    // this often, besides whenever a piece of their connection comes.
    static constexpr std::uint64_t kRetryIntervalMs = 100;

    CTlsStream() : m_portalHosts(PortalTlsHosts()) {}
    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;

    // The key log to follow; empty for none (TLS is then only counted).
    void SetTlsKeyLogFile(const std::string& path) { m_keyLog.SetPath(path); }

    // The layer above hides this to hear which protocol a connection's
    // handshake chose, before its first decrypted byte; the key is of the
    // server's direction.
    void OnTlsAlpn(const CTcpIpStreamKey&, std::string_view) {}

    void StreamDataIn(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        if (!m_sniffing.empty() && SniffIn(stream, data, length))
            return;
        bool first = stream.AtStreamStart();
        auto found = m_directions.find(stream.m_key);
        if (found == m_directions.end()) {
            EClientHelloStart start =
                first ? ClientHelloStart(data, length) : EClientHelloStart::No;
            if (start == EClientHelloStart::Yes)
                OpenConnection(stream.m_key, data, length);
            else if (start == EClientHelloStart::Maybe)
                m_sniffing[stream.m_key].assign(data, data + length);
            else
                PassUp(stream, data, length);
            return;
        }
        std::shared_ptr<CBox> box = found->second;
        bool client = box->m_serverInfo.m_key == stream.m_key.Reversed();
        if (client && first) {
            // The ports were used again for a new connection.
            ForgetConnection(box);
            OpenConnection(stream.m_key, data, length);
            return;
        }
        if (client)
            ClientDataIn(box, data, length);
        else
            box->m_connection.ServerDataIn(data, length, m_keyLog, this->Now(), box->m_sink);
        ListIfWaiting(box);
    }

    void OnStreamRetired(const CTcpIpStreamKey& key)
    {
        m_sniffing.erase(key);
        auto found = m_directions.find(key);
        if (found != m_directions.end()) {
            std::shared_ptr<CBox> box = found->second;
            m_directions.erase(found);
            // A connection whose records wait for keys is kept until they
            // come or its wait ends; the layer above hears of the server's
            // retirement again when it has had them.
            if (box->m_serverInfo.m_key == key)
                box->m_serverRetired = true;
        }
        PassUpRetired(key);
    }

    void OnStreamGap(const CTcpIpStreamKey& key)
    {
        m_sniffing.erase(key);
        auto found = m_directions.find(key);
        if (found != m_directions.end()) {
            CBox& box = *found->second;
            // Without the lost bytes the records cannot be told apart, nor
            // their sequence numbers counted; a gap in the client's
            // direction matters only before its hello is read.
            if (box.m_serverInfo.m_key == key ||
                box.m_connection.State() == CTlsConnection::EState::Hello)
                box.m_connection.Lose();
        }
        PassUpGap(key);
    }

    // The capture loop's idle turn (and the capture file reader's, after
    // each packet): reads what the key log got and opens what waits for it.
    void TlsIdleTurn()
    {
        std::uint64_t now = this->Now();
        if (m_keyLog.HeldCount() > m_keyLog.WantedCount())
            m_keyLog.DropOldUnclaimed(now);
        if (m_waiting.empty() ||
            (m_retriedOnce && now >= m_lastRetryMs && now - m_lastRetryMs < kRetryIntervalMs))
            return;
        m_retriedOnce = true;
        m_lastRetryMs = now;
        m_keyLog.Poll(now);
        RetryWaiting(now);
    }

    // The capture has ended: what still waits gets a last look at the key
    // log, and what finds no keys there is given up.
    void EndTls()
    {
        m_retriedOnce = false;
        std::uint64_t end = this->Now() + CTlsConnection::kMaxWaitMs + 1;
        this->SetClock(end);
        RetryWaiting(end);
    }

    std::size_t TlsConnectionCount() const { return m_directions.size(); }

private:
    // The connection and what its decrypted bytes need to go up.
    struct CBox;
    struct CSink : CTlsConnectionSink
    {
        CTlsStream* m_layer = nullptr;
        CBox* m_box = nullptr;
        void OnTlsPlaintext(const std::uint8_t* data, std::size_t length) override
        {
            m_layer->PassUp(m_box->m_serverInfo, data, length);
        }
        void OnTlsAlpn(std::string_view alpn) override
        {
            static_cast<T*>(m_layer)->OnTlsAlpn(m_box->m_serverInfo.m_key, alpn);
        }
    };
    struct CBox
    {
        explicit CBox(CDecodeStats& stats) : m_connection(stats) {}
        CTlsConnection m_connection;
        CTcpIpStreamInfo m_serverInfo; // only its key is read above
        CSink m_sink;
        bool m_listed = false; // in m_waiting
        bool m_serverRetired = false;
    };
    using CBoxPtr = std::shared_ptr<CBox>;

    // A ClientHello record: handshake type, TLS major version 3, and a
    // ClientHello as its first message (RFC 8446, section 5.1). A first
    // piece too short to tell is held until the stream's next piece.
    enum class EClientHelloStart
    {
        No,
        Maybe,
        Yes
    };
    static constexpr std::size_t kClientHelloSniffBytes = kTlsRecordHeaderLength + 1;

    static EClientHelloStart ClientHelloStart(const std::uint8_t* data, std::size_t length)
    {
        const std::uint8_t expected[] = {CTlsRecordReader::kHandshake, 3};
        for (std::size_t i = 0; i < kClientHelloSniffBytes && i < length; ++i) {
            bool fits = i < 2    ? data[i] == expected[i]
                        : i == 2 ? data[i] <= 4
                        : i < 5  ? true
                                 : data[i] == CTlsHandshakeReader::kClientHello;
            if (!fits)
                return EClientHelloStart::No;
        }
        return length >= kClientHelloSniffBytes ? EClientHelloStart::Yes : EClientHelloStart::Maybe;
    }

    // The next piece of a stream whose first piece was too short to tell:
    // false when the stream is not one of those.
    bool SniffIn(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        auto found = m_sniffing.find(stream.m_key);
        if (found == m_sniffing.end())
            return false;
        if (stream.AtStreamStart()) {
            // The stream started again: the held bytes were its own, not a
            // ClientHello's, and go up before the new ones are looked at.
            std::vector<std::uint8_t> held = std::move(found->second);
            m_sniffing.erase(found);
            PassUp(stream, held.data(), held.size());
            return false;
        }
        std::vector<std::uint8_t> bytes = std::move(found->second);
        m_sniffing.erase(found);
        bytes.insert(bytes.end(), data, data + length);
        switch (ClientHelloStart(bytes.data(), bytes.size())) {
        case EClientHelloStart::Yes:
            OpenConnection(stream.m_key, bytes.data(), bytes.size());
            break;
        case EClientHelloStart::Maybe:
            m_sniffing[stream.m_key] = std::move(bytes);
            break;
        case EClientHelloStart::No:
            PassUp(stream, bytes.data(), bytes.size());
            break;
        }
        return true;
    }

    void OpenConnection(const CTcpIpStreamKey& clientKey, const std::uint8_t* data,
                        std::size_t length)
    {
        ++this->m_stats.m_tlsConnections;
        auto box = std::make_shared<CBox>(this->m_stats);
        box->m_serverInfo.m_key = clientKey.Reversed();
        box->m_sink.m_layer = this;
        box->m_sink.m_box = box.get();
        m_directions[clientKey] = box;
        // An entry for the server's direction may remain of the ports'
        // last connection.
        if (auto old = m_directions.find(box->m_serverInfo.m_key); old != m_directions.end())
            ForgetConnection(old->second);
        m_directions[box->m_serverInfo.m_key] = box;
        ClientDataIn(box, data, length);
    }

    void ClientDataIn(const CBoxPtr& box, const std::uint8_t* data, std::size_t length)
    {
        CTlsConnection& connection = box->m_connection;
        if (!connection.ClientDataIn(data, length))
            return;
        const CTlsClientHello& hello = connection.Hello();
        if (IsPortalHost(hello.m_serverName)) {
            connection.Read(m_keyLog, this->Now(), box->m_sink);
            ListIfWaiting(box);
            return;
        }
        // With a real Encrypted Client Hello the name is the outer one and
        // the secrets are logged under the inner hello's random.
        if (hello.m_offersEch)
            ++this->m_stats.m_tlsEch;
        connection.Skip();
    }

    bool IsPortalHost(const std::string& name) const
    {
        for (const std::string& host : m_portalHosts) {
            if (!host.empty() && host == name)
                return true;
        }
        return false;
    }

    void ForgetConnection(const CBoxPtr& box)
    {
        CTcpIpStreamKey serverKey = box->m_serverInfo.m_key;
        for (const CTcpIpStreamKey& key : {serverKey, serverKey.Reversed()}) {
            auto found = m_directions.find(key);
            if (found != m_directions.end() && found->second == box)
                m_directions.erase(found);
        }
        box->m_connection.Lose();
        PassUpRetired(serverKey);
    }

    void ListIfWaiting(const CBoxPtr& box)
    {
        if (box->m_listed || !box->m_connection.IsWaiting())
            return;
        box->m_listed = true;
        m_waiting.push_back(box);
    }

    void RetryWaiting(std::uint64_t now)
    {
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            CBoxPtr box = *it;
            box->m_connection.Retry(m_keyLog, now, box->m_sink);
            if (box->m_connection.IsWaiting() &&
                box->m_connection.State() == CTlsConnection::EState::Reading) {
                ++it;
                continue;
            }
            box->m_listed = false;
            it = m_waiting.erase(it);
            if (box->m_serverRetired)
                PassUpRetired(box->m_serverInfo.m_key);
        }
    }

    // What goes up the chain: the one place that names the next layer.
    void PassUp(const CTcpIpStreamInfo& stream, const std::uint8_t* data, std::size_t length)
    {
        static_cast<T*>(this)->TlsDataIn(stream, data, length);
    }
    void PassUpRetired(const CTcpIpStreamKey& key)
    {
        static_cast<T*>(this)->OnTlsStreamRetired(key);
    }
    void PassUpGap(const CTcpIpStreamKey& key) { static_cast<T*>(this)->OnTlsStreamGap(key); }

    std::array<std::string, 5> m_portalHosts;
    CTlsKeyLog m_keyLog;
    // Both directions of every TLS connection of the stream table.
    std::unordered_map<CTcpIpStreamKey, CBoxPtr, CTcpIpStreamKeyHash> m_directions;
    // First pieces of fewer than kClientHelloSniffBytes that may begin a
    // ClientHello.
    std::unordered_map<CTcpIpStreamKey, std::vector<std::uint8_t>, CTcpIpStreamKeyHash> m_sniffing;
    // Connections with records waiting for keys, retired ones included.
    std::list<CBoxPtr> m_waiting;
    bool m_retriedOnce = false;
    std::uint64_t m_lastRetryMs = 0;
};

} // namespace zk
