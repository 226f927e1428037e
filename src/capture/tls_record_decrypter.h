#pragma once

#include "capture/tls_suite.h"
#include "platform/tls_crypto.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

constexpr std::size_t kTlsRecordHeaderLength = 5;
constexpr std::size_t kTlsRandomLength = 32;
using CTlsRandom = std::array<std::uint8_t, kTlsRandomLength>;

// The protection of one direction of one connection: its keys, derived from
// a secret of the key log, and its record sequence number. Opens one record
// at a time, in order.
class CTlsRecordDecrypter
{
public:
    // TLS 1.3: the traffic secret of the direction (RFC 8446, section 7.3);
    // the sequence number starts again at 0.
    bool SetTls13Secret(const CTlsSuite& suite, const CSecretBytes& secret);
    // A KeyUpdate: the next generation of the traffic secret (section 7.2).
    bool UpdateTls13Secret();

    // TLS 1.2: the server's write keys out of the key block (RFC 5246,
    // section 6.3), and whether the server agreed to encrypt-then-MAC for a
    // CBC suite (RFC 7366).
    bool SetTls12Keys(const CTlsSuite& suite, const CSecretBytes& masterSecret,
                      const CTlsRandom& clientRandom, const CTlsRandom& serverRandom,
                      bool encryptThenMac);

    bool HasKeys() const { return m_cipher.HasKey(); }

    // Opens one protected record (header and fragment as received): out gets
    // its plaintext and type the content type (TLS 1.3's inner type, the
    // padding taken off). False when the record does not authenticate or is
    // malformed; the state is then of no more use.
    bool Open(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
              std::vector<std::uint8_t>& out, std::uint8_t& type);

    // Wipes the keys.
    void Clear();

private:
    bool DeriveTls13Keys();
    bool OpenTls13(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
                   std::vector<std::uint8_t>& out, std::uint8_t& type);
    bool OpenTls12Aead(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
                       std::vector<std::uint8_t>& out);
    bool OpenTls12Cbc(const std::uint8_t* header, const std::uint8_t* fragment, std::size_t length,
                      std::vector<std::uint8_t>& out);
    bool CheckTls12Mac(const std::uint8_t* header, const std::uint8_t* content,
                       std::size_t contentLength, const std::uint8_t* mac);
    void SequenceNonce(std::uint8_t* nonce) const;

    const CTlsSuite* m_suite = nullptr;
    CTlsCipher m_cipher;
    CSecretBytes m_secret; // TLS 1.3's traffic secret, for the next KeyUpdate
    CSecretBytes m_iv;     // TLS 1.3 and ChaCha20: 12 bytes; TLS 1.2 GCM: the 4-byte salt
    CSecretBytes m_macKey; // TLS 1.2 CBC
    bool m_encryptThenMac = false;
    std::uint64_t m_sequence = 0;
};

} // namespace zk
