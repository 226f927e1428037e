#include "capture/tls_hello.h"

#include <cstring>

namespace zk {
namespace {

// Extension types (IANA's TLS ExtensionType Values registry).
constexpr std::uint16_t kExtServerName = 0;
constexpr std::uint16_t kExtAlpn = 16;
constexpr std::uint16_t kExtEncryptThenMac = 22;
constexpr std::uint16_t kExtSupportedVersions = 43;
constexpr std::uint16_t kExtEncryptedClientHello = 0xfe0d;
constexpr std::uint8_t kServerNameHostName = 0;

// The random of a HelloRetryRequest: SHA-256 of "HelloRetryRequest" (RFC
// 8446, section 4.1.3).
constexpr std::uint8_t kHelloRetryRandom[kTlsRandomLength] = {
    0xcf, 0x21, 0xad, 0x74, 0xe5, 0x9a, 0x61, 0x11, 0xbe, 0x1d, 0x8c, 0x02, 0x1e, 0x65, 0xb8, 0x91,
    0xc2, 0xa2, 0x11, 0x16, 0x7a, 0xbb, 0x8c, 0x5e, 0x07, 0x9e, 0x09, 0xe2, 0xc8, 0xa8, 0x33, 0x9c};

// Reads the big-endian fields and length-prefixed vectors of TLS's
// presentation language, never past its end.
class CTlsBytes
{
public:
    CTlsBytes(const std::uint8_t* data, std::size_t length) : m_data(data), m_left(length) {}

    bool Empty() const { return m_left == 0; }
    std::string Text() const { return std::string(reinterpret_cast<const char*>(m_data), m_left); }
    bool Number(std::size_t bytes, std::size_t& value)
    {
        if (m_left < bytes)
            return false;
        value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value = value << 8 | m_data[i];
        Advance(bytes);
        return true;
    }
    bool Take(std::size_t length, const std::uint8_t*& at)
    {
        if (m_left < length)
            return false;
        at = m_data;
        Advance(length);
        return true;
    }
    // A vector with a prefix of lengthBytes bytes.
    bool Vector(std::size_t lengthBytes, CTlsBytes& inner)
    {
        std::size_t length = 0;
        const std::uint8_t* at = nullptr;
        if (!Number(lengthBytes, length) || !Take(length, at))
            return false;
        inner = CTlsBytes(at, length);
        return true;
    }

private:
    void Advance(std::size_t n)
    {
        m_data += n;
        m_left -= n;
    }
    const std::uint8_t* m_data;
    std::size_t m_left;
};

bool ReadRandom(CTlsBytes& bytes, CTlsRandom& random)
{
    const std::uint8_t* at = nullptr;
    if (!bytes.Take(kTlsRandomLength, at))
        return false;
    std::memcpy(random.data(), at, kTlsRandomLength);
    return true;
}

bool ReadServerName(CTlsBytes data, std::string& name)
{
    CTlsBytes list(nullptr, 0);
    if (!data.Vector(2, list))
        return false;
    while (!list.Empty()) {
        std::size_t type = 0;
        CTlsBytes host(nullptr, 0);
        if (!list.Number(1, type) || !list.Vector(2, host))
            return false;
        if (type != kServerNameHostName)
            continue;
        name = host.Text();
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return true;
    }
    return true;
}

bool ReadAlpn(CTlsBytes data, std::string& alpn)
{
    // The server's answer names exactly one protocol (RFC 7301, section 3.1).
    CTlsBytes list(nullptr, 0);
    CTlsBytes name(nullptr, 0);
    if (!data.Vector(2, list) || !list.Vector(1, name))
        return false;
    alpn = name.Text();
    return true;
}

// Calls onExtension(type, data) for each extension of a block.
template <class F> bool ReadExtensions(CTlsBytes& message, F&& onExtension)
{
    // Extensions may be absent altogether in a TLS 1.2 hello.
    if (message.Empty())
        return true;
    CTlsBytes extensions(nullptr, 0);
    if (!message.Vector(2, extensions))
        return false;
    while (!extensions.Empty()) {
        std::size_t type = 0;
        CTlsBytes data(nullptr, 0);
        if (!extensions.Number(2, type) || !extensions.Vector(2, data))
            return false;
        if (!onExtension(static_cast<std::uint16_t>(type), data))
            return false;
    }
    return true;
}

} // namespace

bool ParseTlsClientHello(const std::uint8_t* body, std::size_t length, CTlsClientHello& hello)
{
    CTlsBytes message(body, length);
    std::size_t version = 0;
    CTlsBytes skipped(nullptr, 0);
    if (!message.Number(2, version) || !ReadRandom(message, hello.m_random) ||
        !message.Vector(1, skipped) || !message.Vector(2, skipped) || !message.Vector(1, skipped))
        return false;
    return ReadExtensions(message, [&](std::uint16_t type, CTlsBytes data) {
        if (type == kExtServerName)
            return ReadServerName(data, hello.m_serverName);
        if (type == kExtEncryptedClientHello)
            hello.m_offersEch = true;
        return true;
    });
}

bool ParseTlsServerHello(const std::uint8_t* body, std::size_t length, CTlsServerHello& hello)
{
    CTlsBytes message(body, length);
    std::size_t version = 0;
    std::size_t suite = 0;
    std::size_t compression = 0;
    CTlsBytes sessionId(nullptr, 0);
    if (!message.Number(2, version) || !ReadRandom(message, hello.m_random) ||
        !message.Vector(1, sessionId) || !message.Number(2, suite) ||
        !message.Number(1, compression))
        return false;
    hello.m_version = static_cast<std::uint16_t>(version);
    hello.m_suite = static_cast<std::uint16_t>(suite);
    hello.m_helloRetry =
        std::memcmp(hello.m_random.data(), kHelloRetryRandom, kTlsRandomLength) == 0;
    return ReadExtensions(message, [&](std::uint16_t type, CTlsBytes data) {
        if (type == kExtSupportedVersions) {
            std::size_t selected = 0;
            if (!data.Number(2, selected))
                return false;
            hello.m_version = static_cast<std::uint16_t>(selected);
        } else if (type == kExtAlpn) {
            return ReadAlpn(data, hello.m_alpn);
        } else if (type == kExtEncryptThenMac) {
            hello.m_encryptThenMac = true;
        }
        return true;
    });
}

bool ParseTlsEncryptedExtensions(const std::uint8_t* body, std::size_t length, std::string& alpn)
{
    CTlsBytes message(body, length);
    if (message.Empty())
        return false;
    return ReadExtensions(message, [&](std::uint16_t type, CTlsBytes data) {
        if (type == kExtAlpn)
            return ReadAlpn(data, alpn);
        return true;
    });
}

} // namespace zk
