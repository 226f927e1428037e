// zk-fuzz-tls: the TLS layer's readers on untrusted bytes: the client's
// records and ClientHello, a key log's text, and the server's records and
// handshake messages, in pieces. An input is:
//
//   2 bytes  the length of the client's bytes, big-endian, then those bytes
//   2 bytes  the length of the key log text, then that text
//   then     pieces of the server's bytes: 1 byte a piece's length (0: the
//            rest), then the piece
//
// Besides what the sanitizers catch, memory the connection counts that is
// still counted after it has gone is a crash.

#include "capture/decode_stats.h"
#include "capture/tls_connection.h"
#include "capture/tls_key_log.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace {

[[noreturn]] void Fail()
{
    __builtin_trap();
}

class CNullSink : public zk::CTlsConnectionSink
{
public:
    void OnTlsPlaintext(const std::uint8_t* data, std::size_t length) override
    {
        // Touch every byte, so that a bad span is caught.
        for (std::size_t i = 0; i < length; ++i)
            m_sum += data[i];
    }
    void OnTlsAlpn(std::string_view alpn) override { m_sum += alpn.size(); }
    std::size_t m_sum = 0;
};

// A part of the input in an allocation of its own exact size.
std::unique_ptr<std::uint8_t[]> Copy(const std::uint8_t* data, std::size_t length)
{
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length ? length : 1]);
    std::copy(data, data + length, copy.get());
    return copy;
}

bool TakeLength(const std::uint8_t* data, std::size_t size, std::size_t& at, std::size_t& length)
{
    if (size - at < 2)
        return false;
    length = std::size_t(data[at]) << 8 | data[at + 1];
    at += 2;
    if (length > size - at)
        length = size - at;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    zk::CDecodeStats stats;
    CNullSink sink;
    std::uint64_t now = 0;
    {
        zk::CTlsKeyLog keyLog;
        zk::CTlsConnection connection(stats);
        std::size_t at = 0;
        std::size_t length = 0;
        if (!TakeLength(data, size, at, length))
            return 0;
        auto client = Copy(data + at, length);
        at += length;
        if (connection.ClientDataIn(client.get(), length))
            connection.Read(keyLog, now, sink);
        if (TakeLength(data, size, at, length)) {
            auto text = Copy(data + at, length);
            at += length;
            keyLog.TakeBytes(reinterpret_cast<const char*>(text.get()), length, now);
        }
        while (at < size) {
            std::size_t piece = data[at++];
            if (piece == 0 || piece > size - at)
                piece = size - at;
            auto bytes = Copy(data + at, piece);
            at += piece;
            now += 50;
            connection.ServerDataIn(bytes.get(), piece, keyLog, now, sink);
            connection.Retry(keyLog, now, sink);
            if (stats.m_tlsWaitingBytes > zk::CTlsConnection::kMaxWaitingBytes)
                Fail();
        }
    }
    if (stats.m_tlsBytes != 0 || stats.m_tlsWaitingBytes != 0)
        Fail();
    return 0;
}
