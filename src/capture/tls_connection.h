#pragma once

#include "capture/decode_stats.h"
#include "capture/tls_handshake_reader.h"
#include "capture/tls_hello.h"
#include "capture/tls_key_log.h"
#include "capture/tls_record_decrypter.h"
#include "capture/tls_record_reader.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

namespace zk {

// Where a connection's decrypted bytes go: the TLS layer passes them up its
// chain.
class CTlsConnectionSink
{
public:
    virtual void OnTlsPlaintext(const std::uint8_t* data, std::size_t length) = 0;
    virtual void OnTlsAlpn(std::string_view alpn) = 0;

protected:
    ~CTlsConnectionSink() = default;
};

// One TLS connection: the client's hello out of its direction, the
// server's direction read and opened with the key log's secrets. Records
// that come before their keys wait, in order, within bounds.
class CTlsConnection
{
public:
    // Records of one connection waiting for keys: a page or two with its
    // handshake. The browser writes the secrets within milliseconds of
    // needing them; two seconds is a hundred times the latest seen.
    static constexpr std::size_t kMaxWaitingBytes = 256 * 1024;
    static constexpr std::uint64_t kMaxWaitMs = 2000;
    // All connections' waiting records together: sixty-four connections at
    // their bound.
    static constexpr std::uint64_t kMaxAllWaitingBytes = 16 * 1024 * 1024;

    enum class EState
    {
        Hello,   // the ClientHello is not complete yet
        Reading, // a portal connection: the server's records are read
        Skipped, // another site's, or one whose name is hidden (ECH)
        Done,    // given up: lost bytes, no keys in time, a failed record
    };

    explicit CTlsConnection(CDecodeStats& stats) : m_stats(stats) {}
    ~CTlsConnection();
    CTlsConnection(const CTlsConnection&) = delete;
    CTlsConnection& operator=(const CTlsConnection&) = delete;

    // The client's bytes: true when they complete the ClientHello, which
    // Hello() then tells. Bytes after it are not read.
    bool ClientDataIn(const std::uint8_t* data, std::size_t length);
    const CTlsClientHello& Hello() const { return m_hello; }

    // The TLS layer's verdict on the hello: read it (its random is wanted
    // in the key log), or skip it.
    void Read(CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink);
    void Skip();

    void ServerDataIn(const std::uint8_t* data, std::size_t length, CTlsKeyLog& keyLog,
                      std::uint64_t nowMs, CTlsConnectionSink& sink);

    // Opens what waits when its keys have come; gives up once the wait has
    // run out.
    void Retry(CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink);

    // The stream's bytes will not all come: nothing more can be opened.
    void Lose();

    EState State() const { return m_state; }
    bool IsWaiting() const { return !m_waiting.empty(); }

private:
    enum class EPhase
    {
        ServerHello,      // before the (real) ServerHello
        Tls12Clear,       // TLS 1.2 after its ServerHello, before its ChangeCipherSpec
        Tls12Protected,   // TLS 1.2 after the server's ChangeCipherSpec
        Tls13Handshake,   // TLS 1.3 under the server's handshake keys
        Tls13Application, // TLS 1.3 under the server's application keys
    };

    struct CWaitingRecord
    {
        std::vector<std::uint8_t> m_bytes; // header and fragment
    };

    bool RecordIn(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
                  CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink);
    void Queue(const std::uint8_t* header, std::size_t length, std::uint64_t nowMs);
    void Pump(CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink);
    bool NeedsKeys() const;
    bool FetchKeys(CTlsKeyLog& keyLog, std::uint64_t nowMs);
    bool Process(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
                 CTlsConnectionSink& sink);
    bool ClearRecordIn(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
                       CTlsConnectionSink& sink);
    bool ServerHelloIn(const std::uint8_t* body, std::size_t length, CTlsConnectionSink& sink);
    bool ProtectedRecordIn(const std::uint8_t* header, const std::uint8_t* fragment,
                           std::size_t length, CTlsConnectionSink& sink);
    void GiveUp(std::uint64_t& reason);
    void ClearWaiting();
    void Account();

    CDecodeStats& m_stats;
    CTlsKeyLog* m_keyLog = nullptr; // while its random is wanted there
    EState m_state = EState::Hello;
    EPhase m_phase = EPhase::ServerHello;

    CTlsRecordReader m_clientRecords;
    CTlsHandshakeReader m_clientHandshake;
    CTlsClientHello m_hello;
    bool m_helloRead = false;

    CTlsRecordReader m_serverRecords;
    // The server's handshake messages in the clear (ServerHello), then
    // under protection (EncryptedExtensions, Finished, KeyUpdate).
    CTlsHandshakeReader m_serverHandshake;
    CTlsServerHello m_serverHello;
    const CTlsSuite* m_suite = nullptr;
    CTlsRecordDecrypter m_decrypter;
    std::vector<std::uint8_t> m_plaintext;
    bool m_decrypted = false; // counted once

    std::deque<CWaitingRecord> m_waiting;
    std::size_t m_waitingBytes = 0;
    std::uint64_t m_waitStartMs = 0;
    std::size_t m_heldBytes = 0; // what the connection counts in the statistics
};

} // namespace zk
