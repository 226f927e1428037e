#pragma once

#include "platform/tls_crypto.h"

#include <cstddef>
#include <cstdint>

namespace zk {

// A cipher suite the TLS layer can read: its record cipher, the hash of its
// key schedule (TLS 1.3's HKDF, TLS 1.2's PRF) and, for CBC suites, the
// HMAC of its records.
struct CTlsSuite
{
    std::uint16_t m_id = 0;
    bool m_tls13 = false;
    ETlsCipher m_cipher = ETlsCipher::Aes128Gcm;
    ETlsHash m_prfHash = ETlsHash::Sha256;
    ETlsHash m_macHash = ETlsHash::Sha1; // CBC suites only
};

// The suites browsers offer: TLS 1.3's three, and TLS 1.2's ECDHE and RSA
// key exchanges with AES-GCM, ChaCha20-Poly1305 and AES-CBC. Null for any
// other suite; such a connection is not read.
const CTlsSuite* FindTlsSuite(std::uint16_t id);

} // namespace zk
