#include "capture/tls_connection.h"

namespace zk {
namespace {

using R = CTlsRecordReader;
using H = CTlsHandshakeReader;

// A KeyUpdate's request_update field takes one byte (RFC 8446, 4.6.3).
constexpr std::size_t kKeyUpdateLength = 1;

} // namespace

CTlsConnection::~CTlsConnection()
{
    ClearWaiting();
    if (m_keyLog)
        m_keyLog->Forget(m_hello.m_random);
    m_decrypter.Clear();
    m_stats.m_tlsBytes -= m_heldBytes;
}

bool CTlsConnection::ClientDataIn(const std::uint8_t* data, std::size_t length)
{
    if (m_state != EState::Hello)
        return false;
    bool complete = false;
    bool malformed = false;
    ETlsRead read = m_clientRecords.Read(
        data, length,
        [&](const std::uint8_t* header, const std::uint8_t* fragment, std::size_t fragmentLength) {
            // The ClientHello comes before anything else the client sends
            // (RFC 8446, section 4.1.2), possibly over several records.
            if (header[0] != R::kHandshake) {
                malformed = true;
                return false;
            }
            bool ok = m_clientHandshake.Read(
                fragment, fragmentLength,
                [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodyLength) {
                    if (type != H::kClientHello || !body ||
                        !ParseTlsClientHello(body, bodyLength, m_hello)) {
                        malformed = true;
                        return false;
                    }
                    complete = true;
                    return false;
                });
            // A message too long to be a ClientHello ends the reading too.
            if (!ok && !complete)
                malformed = true;
            return ok && !complete;
        });
    if (complete) {
        m_clientRecords.Clear();
        m_clientHandshake.Clear();
        m_helloRead = true;
        Account();
        return true;
    }
    if (malformed || read == ETlsRead::Invalid) {
        // Not a TLS client after all: nothing of it can be read.
        m_clientRecords.Clear();
        m_clientHandshake.Clear();
        Skip();
        return false;
    }
    Account();
    return false;
}

void CTlsConnection::Read(CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink)
{
    m_state = EState::Reading;
    keyLog.Want(m_hello.m_random, nowMs);
    m_keyLog = &keyLog;
    // Server bytes that came before the hello was complete wait in order.
    Pump(keyLog, nowMs, sink);
    Account();
}

void CTlsConnection::Skip()
{
    m_state = EState::Skipped;
    ++m_stats.m_tlsSkipped;
    ClearWaiting();
    m_serverRecords.Clear();
    m_serverHandshake.Clear();
    Account();
}

void CTlsConnection::Lose()
{
    if (m_state != EState::Reading && m_state != EState::Hello)
        return;
    m_state = EState::Done;
    ClearWaiting();
    m_serverRecords.Clear();
    m_serverHandshake.Clear();
    m_decrypter.Clear();
    Account();
}

void CTlsConnection::GiveUp(std::uint64_t& reason)
{
    ++reason;
    Lose();
}

void CTlsConnection::ServerDataIn(const std::uint8_t* data, std::size_t length, CTlsKeyLog& keyLog,
                                  std::uint64_t nowMs, CTlsConnectionSink& sink)
{
    if (m_state != EState::Reading && m_state != EState::Hello)
        return;
    ETlsRead read = m_serverRecords.Read(
        data, length,
        [&](const std::uint8_t* header, const std::uint8_t* fragment, std::size_t fragmentLength) {
            return RecordIn(header, fragment, fragmentLength, keyLog, nowMs, sink);
        });
    if (read == ETlsRead::Invalid && m_state == EState::Reading)
        GiveUp(m_stats.m_tlsFailed);
    Account();
}

bool CTlsConnection::RecordIn(const std::uint8_t* header, const std::uint8_t* fragment,
                              std::size_t length, CTlsKeyLog& keyLog, std::uint64_t nowMs,
                              CTlsConnectionSink& sink)
{
    // Records keep their order: once one waits, every later one waits too.
    if (m_state == EState::Hello || !m_waiting.empty() ||
        (NeedsKeys() && !FetchKeys(keyLog, nowMs))) {
        Queue(header, kTlsRecordHeaderLength + length, nowMs);
        return m_state == EState::Hello || m_state == EState::Reading;
    }
    return Process(header, fragment, length, sink);
}

void CTlsConnection::Queue(const std::uint8_t* header, std::size_t length, std::uint64_t nowMs)
{
    if (m_waitingBytes + length > kMaxWaitingBytes ||
        m_stats.m_tlsWaitingBytes + length > kMaxAllWaitingBytes) {
        GiveUp(m_stats.m_tlsWithoutKeys);
        return;
    }
    if (m_waiting.empty())
        m_waitStartMs = nowMs;
    m_waiting.push_back(CWaitingRecord{{header, header + length}});
    m_waitingBytes += length;
    m_stats.m_tlsWaitingBytes += length;
}

void CTlsConnection::ClearWaiting()
{
    m_stats.m_tlsWaitingBytes -= m_waitingBytes;
    m_waitingBytes = 0;
    m_waiting.clear();
}

void CTlsConnection::Retry(CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink)
{
    if (m_state != EState::Reading || m_waiting.empty())
        return;
    Pump(keyLog, nowMs, sink);
    if (!m_waiting.empty() && nowMs >= m_waitStartMs && nowMs - m_waitStartMs > kMaxWaitMs)
        GiveUp(m_stats.m_tlsWithoutKeys);
    Account();
}

void CTlsConnection::Pump(CTlsKeyLog& keyLog, std::uint64_t nowMs, CTlsConnectionSink& sink)
{
    bool progressed = false;
    while (m_state == EState::Reading && !m_waiting.empty()) {
        if (NeedsKeys() && !FetchKeys(keyLog, nowMs))
            break;
        CWaitingRecord record = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_waitingBytes -= record.m_bytes.size();
        m_stats.m_tlsWaitingBytes -= record.m_bytes.size();
        progressed = true;
        const std::uint8_t* bytes = record.m_bytes.data();
        if (!Process(bytes, bytes + kTlsRecordHeaderLength,
                     record.m_bytes.size() - kTlsRecordHeaderLength, sink))
            break;
    }
    // The wait for the next keys starts when the last ones came.
    if (progressed && !m_waiting.empty())
        m_waitStartMs = nowMs;
}

bool CTlsConnection::NeedsKeys() const
{
    bool protectedPhase = m_phase == EPhase::Tls12Protected || m_phase == EPhase::Tls13Handshake ||
                          m_phase == EPhase::Tls13Application;
    return protectedPhase && !m_decrypter.HasKeys();
}

bool CTlsConnection::FetchKeys(CTlsKeyLog& keyLog, std::uint64_t nowMs)
{
    if (m_state != EState::Reading)
        return false;
    ETlsSecret kind = m_phase == EPhase::Tls12Protected   ? ETlsSecret::MasterSecret
                      : m_phase == EPhase::Tls13Handshake ? ETlsSecret::ServerHandshake
                                                          : ETlsSecret::ServerTraffic0;
    const CSecretBytes* secret = keyLog.Find(m_hello.m_random, kind, nowMs);
    if (!secret)
        return false;
    bool ok = m_suite->m_tls13 ? m_decrypter.SetTls13Secret(*m_suite, *secret)
                               : m_decrypter.SetTls12Keys(*m_suite, *secret, m_hello.m_random,
                                                          m_serverHello.m_random,
                                                          m_serverHello.m_encryptThenMac);
    if (!ok) {
        GiveUp(m_stats.m_tlsFailed);
        return false;
    }
    return true;
}

bool CTlsConnection::Process(const std::uint8_t* header, const std::uint8_t* fragment,
                             std::size_t length, CTlsConnectionSink& sink)
{
    bool ok = m_phase == EPhase::ServerHello || m_phase == EPhase::Tls12Clear
                  ? ClearRecordIn(header, fragment, length, sink)
                  : ProtectedRecordIn(header, fragment, length, sink);
    if (!ok && m_state == EState::Reading)
        GiveUp(m_stats.m_tlsFailed);
    return ok && m_state == EState::Reading;
}

bool CTlsConnection::ClearRecordIn(const std::uint8_t* header, const std::uint8_t* fragment,
                                   std::size_t length, CTlsConnectionSink& sink)
{
    switch (header[0]) {
    case R::kHandshake:
        return m_serverHandshake.Read(
            fragment, length,
            [&](std::uint8_t type, const std::uint8_t* body, std::size_t bodyLength) {
                if (type == H::kServerHello && m_phase == EPhase::ServerHello)
                    return body && ServerHelloIn(body, bodyLength, sink);
                // Certificate, ServerKeyExchange, ServerHelloDone of TLS
                // 1.2 are read past.
                return true;
            });
    case R::kChangeCipherSpec:
        // TLS 1.2's switch to the new keys; TLS 1.3's compatibility
        // ChangeCipherSpec after a HelloRetryRequest means nothing (RFC
        // 8446, appendix D.4).
        if (m_phase == EPhase::Tls12Clear) {
            if (m_serverHandshake.InMessage())
                return false;
            m_phase = EPhase::Tls12Protected;
        }
        return true;
    case R::kAlert:
        return true;
    default:
        // Application data before the keys are agreed is not TLS.
        return false;
    }
}

bool CTlsConnection::ServerHelloIn(const std::uint8_t* body, std::size_t length,
                                   CTlsConnectionSink& sink)
{
    CTlsServerHello hello;
    if (!ParseTlsServerHello(body, length, hello))
        return false;
    // A HelloRetryRequest asks for a second ClientHello; the real
    // ServerHello follows (RFC 8446, section 4.1.4).
    if (hello.m_helloRetry)
        return true;
    m_serverHello = hello;
    m_suite = FindTlsSuite(hello.m_suite);
    if (!m_suite || m_suite->m_tls13 != (hello.m_version == kTls13Version) ||
        (hello.m_version != kTls13Version && hello.m_version != kTls12Version))
        return false;
    if (m_suite->m_tls13) {
        // Protection starts with the next record, which must begin a
        // message of its own.
        if (m_serverHandshake.InMessage())
            return false;
        m_phase = EPhase::Tls13Handshake;
    } else {
        m_phase = EPhase::Tls12Clear;
        if (!hello.m_alpn.empty())
            sink.OnTlsAlpn(hello.m_alpn);
    }
    return true;
}

bool CTlsConnection::ProtectedRecordIn(const std::uint8_t* header, const std::uint8_t* fragment,
                                       std::size_t length, CTlsConnectionSink& sink)
{
    if (header[0] == R::kChangeCipherSpec && m_suite->m_tls13)
        return true;
    std::uint8_t type = 0;
    if (!m_decrypter.Open(header, fragment, length, m_plaintext, type))
        return false;
    if (!m_decrypted) {
        m_decrypted = true;
        ++m_stats.m_tlsDecrypted;
    }
    switch (type) {
    case R::kApplicationData:
        // Only the server's application data after its Finished is a page;
        // TLS 1.3 sends none before (no early data from a server).
        if (m_phase != EPhase::Tls13Handshake && !m_plaintext.empty())
            sink.OnTlsPlaintext(m_plaintext.data(), m_plaintext.size());
        return true;
    case R::kHandshake:
        break;
    default:
        // Alerts, heartbeats.
        return true;
    }
    if (!m_suite->m_tls13)
        return true; // TLS 1.2's Finished, or a renegotiation's HelloRequest
    bool finished = false;
    bool keyUpdate = false;
    bool ok = m_serverHandshake.Read(
        m_plaintext.data(), m_plaintext.size(),
        [&](std::uint8_t messageType, const std::uint8_t* body, std::size_t bodyLength) {
            if (messageType == H::kEncryptedExtensions && m_phase == EPhase::Tls13Handshake) {
                std::string alpn;
                if (!body || !ParseTlsEncryptedExtensions(body, bodyLength, alpn))
                    return false;
                if (!alpn.empty())
                    sink.OnTlsAlpn(alpn);
            } else if (messageType == H::kFinished && m_phase == EPhase::Tls13Handshake) {
                finished = true;
            } else if (messageType == H::kKeyUpdate && m_phase == EPhase::Tls13Application) {
                if (!body || bodyLength != kKeyUpdateLength)
                    return false;
                keyUpdate = true;
            }
            return true;
        });
    if (!ok)
        return false;
    // Keys change only at a record's end, after a whole message (RFC 8446,
    // section 5.1).
    if ((finished || keyUpdate) && m_serverHandshake.InMessage())
        return false;
    if (finished) {
        m_phase = EPhase::Tls13Application;
        m_decrypter.Clear();
    } else if (keyUpdate && !m_decrypter.UpdateTls13Secret()) {
        return false;
    }
    return true;
}

void CTlsConnection::Account()
{
    std::size_t held = m_clientRecords.BufferedBytes() + m_clientHandshake.BufferedBytes() +
                       m_serverRecords.BufferedBytes() + m_serverHandshake.BufferedBytes();
    m_stats.m_tlsBytes += held;
    m_stats.m_tlsBytes -= m_heldBytes;
    m_heldBytes = held;
}

} // namespace zk
