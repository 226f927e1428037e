#include "capture/tls_record_decrypter.h"

#include <cstring>

namespace zk {
namespace {

constexpr std::size_t kAeadNonceLength = 12;
constexpr std::size_t kTls12GcmSaltLength = 4;
constexpr std::size_t kTls12ExplicitNonceLength = 8;
constexpr std::uint8_t kContentApplicationData = 23;

void PutUint64(std::uint8_t* to, std::uint64_t value)
{
    for (int i = 7; i >= 0; --i) {
        to[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

// What TLS 1.2 puts before a record's content in its MAC and its AEAD
// additional data alike: seq_num, type, version, length (RFC 5246, sections
// 6.2.3.1 and 6.2.3.3).
constexpr std::size_t kTls12PrefixLength = 13;

void PutTls12Prefix(std::uint8_t* to, std::uint64_t sequence, const std::uint8_t* header,
                    std::size_t length)
{
    PutUint64(to, sequence);
    to[8] = header[0];
    to[9] = header[1];
    to[10] = header[2];
    to[11] = static_cast<std::uint8_t>(length >> 8);
    to[12] = static_cast<std::uint8_t>(length);
}

} // namespace

bool CTlsRecordDecrypter::SetTls13Secret(const CTlsSuite& suite, const CSecretBytes& secret)
{
    Clear();
    m_suite = &suite;
    m_secret.Assign(secret.data(), secret.size());
    return DeriveTls13Keys();
}

bool CTlsRecordDecrypter::UpdateTls13Secret()
{
    if (!m_suite || !m_suite->m_tls13)
        return false;
    CSecretBytes next;
    if (!HkdfExpandLabel(m_suite->m_prfHash, m_secret, "traffic upd", nullptr, 0,
                         TlsHashLength(m_suite->m_prfHash), next))
        return false;
    m_secret = std::move(next);
    return DeriveTls13Keys();
}

bool CTlsRecordDecrypter::DeriveTls13Keys()
{
    // RFC 8446, section 7.3: key and IV of a traffic secret.
    CSecretBytes key;
    m_sequence = 0;
    if (!HkdfExpandLabel(m_suite->m_prfHash, m_secret, "key", nullptr, 0,
                         TlsCipherKeyLength(m_suite->m_cipher), key) ||
        !HkdfExpandLabel(m_suite->m_prfHash, m_secret, "iv", nullptr, 0, kAeadNonceLength, m_iv))
        return false;
    return m_cipher.SetKey(m_suite->m_cipher, key);
}

bool CTlsRecordDecrypter::SetTls12Keys(const CTlsSuite& suite, const CSecretBytes& masterSecret,
                                       const CTlsRandom& clientRandom,
                                       const CTlsRandom& serverRandom, bool encryptThenMac)
{
    Clear();
    m_suite = &suite;
    bool aead = IsTlsAeadCipher(suite.m_cipher);
    std::size_t macLength = aead ? 0 : TlsHashLength(suite.m_macHash);
    std::size_t keyLength = TlsCipherKeyLength(suite.m_cipher);
    // GCM's fixed IV is a 4-byte salt (RFC 5288), ChaCha20's a whole 12-byte
    // nonce mask (RFC 7905); CBC records carry their IV (RFC 5246, 6.2.3.2).
    std::size_t ivLength = !aead                                            ? 0
                           : suite.m_cipher == ETlsCipher::ChaCha20Poly1305 ? kAeadNonceLength
                                                                            : kTls12GcmSaltLength;
    // The key block is seeded with server_random + client_random.
    std::uint8_t seed[2 * kTlsRandomLength];
    std::memcpy(seed, serverRandom.data(), kTlsRandomLength);
    std::memcpy(seed + kTlsRandomLength, clientRandom.data(), kTlsRandomLength);
    CSecretBytes block;
    if (!Tls12Prf(suite.m_prfHash, masterSecret, "key expansion", seed, sizeof seed,
                  2 * (macLength + keyLength + ivLength), block))
        return false;
    // client MAC, server MAC, client key, server key, client IV, server IV.
    const std::uint8_t* at = block.data();
    m_macKey.Assign(at + macLength, macLength);
    at += 2 * macLength;
    CSecretBytes key(at + keyLength, keyLength);
    at += 2 * keyLength;
    m_iv.Assign(at + ivLength, ivLength);
    m_encryptThenMac = encryptThenMac && !aead;
    m_sequence = 0;
    return m_cipher.SetKey(suite.m_cipher, key);
}

void CTlsRecordDecrypter::Clear()
{
    m_secret.Wipe();
    m_iv.Wipe();
    m_macKey.Wipe();
    m_cipher.Clear();
    m_sequence = 0;
}

// The nonce of TLS 1.3 and of TLS 1.2's ChaCha20: the 64-bit sequence
// number, padded on the left to the IV's length, XOR the IV (RFC 8446,
// section 5.3; RFC 7905, section 2).
void CTlsRecordDecrypter::SequenceNonce(std::uint8_t* nonce) const
{
    std::memcpy(nonce, m_iv.data(), kAeadNonceLength);
    std::uint8_t sequence[8];
    PutUint64(sequence, m_sequence);
    for (std::size_t i = 0; i < 8; ++i)
        nonce[kAeadNonceLength - 8 + i] ^= sequence[i];
}

bool CTlsRecordDecrypter::Open(const std::uint8_t* header, const std::uint8_t* fragment,
                               std::size_t length, std::vector<std::uint8_t>& out,
                               std::uint8_t& type)
{
    if (!m_suite || !m_cipher.HasKey())
        return false;
    bool ok = false;
    type = header[0];
    if (m_suite->m_tls13)
        ok = OpenTls13(header, fragment, length, out, type);
    else if (IsTlsAeadCipher(m_suite->m_cipher))
        ok = OpenTls12Aead(header, fragment, length, out);
    else
        ok = OpenTls12Cbc(header, fragment, length, out);
    if (ok)
        ++m_sequence;
    return ok;
}

bool CTlsRecordDecrypter::OpenTls13(const std::uint8_t* header, const std::uint8_t* fragment,
                                    std::size_t length, std::vector<std::uint8_t>& out,
                                    std::uint8_t& type)
{
    // Every protected record is application_data on the outside, and its
    // additional data is the record header (RFC 8446, section 5.2).
    if (header[0] != kContentApplicationData || length < kTlsAeadTagLength + 1)
        return false;
    std::uint8_t nonce[kAeadNonceLength];
    SequenceNonce(nonce);
    out.resize(length - kTlsAeadTagLength);
    if (!m_cipher.OpenAead(nonce, sizeof nonce, header, kTlsRecordHeaderLength, fragment, length,
                           out.data()))
        return false;
    // The inner plaintext ends in the real content type and zero padding;
    // a record that is all zeros is a protocol error.
    std::size_t end = out.size();
    while (end > 0 && out[end - 1] == 0)
        --end;
    if (end == 0)
        return false;
    type = out[end - 1];
    out.resize(end - 1);
    return true;
}

bool CTlsRecordDecrypter::OpenTls12Aead(const std::uint8_t* header, const std::uint8_t* fragment,
                                        std::size_t length, std::vector<std::uint8_t>& out)
{
    std::uint8_t nonce[kAeadNonceLength];
    bool gcm = m_suite->m_cipher != ETlsCipher::ChaCha20Poly1305;
    std::size_t explicitLength = gcm ? kTls12ExplicitNonceLength : 0;
    if (length < explicitLength + kTlsAeadTagLength)
        return false;
    if (gcm) {
        // The salt, then the record's own 8-byte explicit nonce (RFC 5288,
        // section 3).
        std::memcpy(nonce, m_iv.data(), kTls12GcmSaltLength);
        std::memcpy(nonce + kTls12GcmSaltLength, fragment, kTls12ExplicitNonceLength);
    } else {
        SequenceNonce(nonce);
    }
    std::size_t textLength = length - explicitLength - kTlsAeadTagLength;
    // Additional data: seq_num, type, version, the plaintext's length (RFC
    // 5246, section 6.2.3.3).
    std::uint8_t aad[kTls12PrefixLength];
    PutTls12Prefix(aad, m_sequence, header, textLength);
    out.resize(textLength);
    return m_cipher.OpenAead(nonce, sizeof nonce, aad, sizeof aad, fragment + explicitLength,
                             length - explicitLength, out.data());
}

bool CTlsRecordDecrypter::CheckTls12Mac(const std::uint8_t* header, const std::uint8_t* content,
                                        std::size_t contentLength, const std::uint8_t* mac)
{
    // MAC(seq_num, type, version, length, content) (RFC 5246, section
    // 6.2.3.1); for encrypt-then-MAC the content is IV and ciphertext.
    std::uint8_t prefix[kTls12PrefixLength];
    PutTls12Prefix(prefix, m_sequence, header, contentLength);
    CByteRun pieces[] = {{prefix, sizeof prefix}, {content, contentLength}};
    std::uint8_t computed[64];
    if (!ComputeHmac(m_suite->m_macHash, m_macKey, pieces, 2, computed))
        return false;
    return MacsEqual(computed, mac, TlsHashLength(m_suite->m_macHash));
}

bool CTlsRecordDecrypter::OpenTls12Cbc(const std::uint8_t* header, const std::uint8_t* fragment,
                                       std::size_t length, std::vector<std::uint8_t>& out)
{
    std::size_t macLength = TlsHashLength(m_suite->m_macHash);
    std::size_t cipherLength = length;
    if (m_encryptThenMac) {
        // IV and ciphertext, then the MAC over both (RFC 7366, section 3).
        if (length < macLength)
            return false;
        cipherLength = length - macLength;
        if (!CheckTls12Mac(header, fragment, cipherLength, fragment + cipherLength))
            return false;
    }
    if (cipherLength < 2 * kTlsCbcBlockLength || cipherLength % kTlsCbcBlockLength != 0)
        return false;
    std::size_t blocksLength = cipherLength - kTlsCbcBlockLength;
    out.resize(blocksLength);
    if (!m_cipher.DecryptCbc(fragment, fragment + kTlsCbcBlockLength, blocksLength, out.data()))
        return false;
    // Padding: its length byte last, each padding byte equal to it.
    std::size_t padding = out.back();
    std::size_t trailer = padding + 1 + (m_encryptThenMac ? 0 : macLength);
    if (trailer > out.size())
        return false;
    for (std::size_t i = out.size() - padding - 1; i < out.size(); ++i) {
        if (out[i] != padding)
            return false;
    }
    std::size_t contentLength = out.size() - trailer;
    if (!m_encryptThenMac &&
        !CheckTls12Mac(header, out.data(), contentLength, out.data() + contentLength))
        return false;
    out.resize(contentLength);
    return true;
}

} // namespace zk
