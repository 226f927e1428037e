#include "capture/tls_suite.h"

#include <iterator>

namespace zk {
namespace {

using H = ETlsHash;
using C = ETlsCipher;

// The ids are IANA's TLS Cipher Suites registry. A TLS 1.2 suite whose name
// ends in SHA384 takes SHA-384 for its PRF (RFC 5288, RFC 5289); every other
// one SHA-256 (RFC 5246, section 5; RFC 7905).
constexpr CTlsSuite kSuites[] = {
    {0x1301, true, C::Aes128Gcm, H::Sha256, H::Sha256},
    {0x1302, true, C::Aes256Gcm, H::Sha384, H::Sha384},
    {0x1303, true, C::ChaCha20Poly1305, H::Sha256, H::Sha256},
    // ECDHE_ECDSA and ECDHE_RSA with AES-GCM, then RSA with AES-GCM.
    {0xc02b, false, C::Aes128Gcm, H::Sha256, H::Sha256},
    {0xc02f, false, C::Aes128Gcm, H::Sha256, H::Sha256},
    {0xc02c, false, C::Aes256Gcm, H::Sha384, H::Sha384},
    {0xc030, false, C::Aes256Gcm, H::Sha384, H::Sha384},
    {0x009c, false, C::Aes128Gcm, H::Sha256, H::Sha256},
    {0x009d, false, C::Aes256Gcm, H::Sha384, H::Sha384},
    // ChaCha20-Poly1305 (RFC 7905).
    {0xcca8, false, C::ChaCha20Poly1305, H::Sha256, H::Sha256},
    {0xcca9, false, C::ChaCha20Poly1305, H::Sha256, H::Sha256},
    // AES-CBC with HMAC-SHA1 (RFC 4492 for ECDHE, RFC 5246 for RSA).
    {0xc009, false, C::Aes128Cbc, H::Sha256, H::Sha1},
    {0xc00a, false, C::Aes256Cbc, H::Sha256, H::Sha1},
    {0xc013, false, C::Aes128Cbc, H::Sha256, H::Sha1},
    {0xc014, false, C::Aes256Cbc, H::Sha256, H::Sha1},
    {0x002f, false, C::Aes128Cbc, H::Sha256, H::Sha1},
    {0x0035, false, C::Aes256Cbc, H::Sha256, H::Sha1},
    // AES-CBC with HMAC-SHA256 and HMAC-SHA384 (RFC 5289, RFC 5246).
    {0xc023, false, C::Aes128Cbc, H::Sha256, H::Sha256},
    {0xc027, false, C::Aes128Cbc, H::Sha256, H::Sha256},
    {0xc024, false, C::Aes256Cbc, H::Sha384, H::Sha384},
    {0xc028, false, C::Aes256Cbc, H::Sha384, H::Sha384},
    {0x003c, false, C::Aes128Cbc, H::Sha256, H::Sha256},
    {0x003d, false, C::Aes256Cbc, H::Sha256, H::Sha256},
};

} // namespace

const CTlsSuite* FindTlsSuite(std::uint16_t id)
{
    for (const CTlsSuite& suite : kSuites) {
        if (suite.m_id == id)
            return &suite;
    }
    return nullptr;
}

} // namespace zk
