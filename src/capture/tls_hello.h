#pragma once

#include "capture/tls_record_decrypter.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

// What the TLS layer needs of a ClientHello (RFC 8446, section 4.1.2).
struct CTlsClientHello
{
    CTlsRandom m_random{};
    std::string m_serverName; // the host_name of server_name (RFC 6066), lower case
    // The client offers Encrypted Client Hello: when it is real, the name
    // and random here are the outer ones, and the real ones are hidden.
    bool m_offersEch = false;
};

// What it needs of a ServerHello (section 4.1.3; RFC 5246, section 7.4.1.3).
struct CTlsServerHello
{
    CTlsRandom m_random{};
    std::uint16_t m_version = 0; // supported_versions when present, else legacy_version
    std::uint16_t m_suite = 0;
    std::string m_alpn; // TLS 1.2 only; TLS 1.3 sends it encrypted
    bool m_encryptThenMac = false;
    bool m_helloRetry = false; // a HelloRetryRequest, answered by a second ClientHello
};

constexpr std::uint16_t kTls12Version = 0x0303;
constexpr std::uint16_t kTls13Version = 0x0304;

// Each parses a message body; false when it is malformed.
bool ParseTlsClientHello(const std::uint8_t* body, std::size_t length, CTlsClientHello& hello);
bool ParseTlsServerHello(const std::uint8_t* body, std::size_t length, CTlsServerHello& hello);
// The protocol TLS 1.3's EncryptedExtensions chose with ALPN (RFC 7301);
// empty when none.
bool ParseTlsEncryptedExtensions(const std::uint8_t* body, std::size_t length, std::string& alpn);

} // namespace zk
