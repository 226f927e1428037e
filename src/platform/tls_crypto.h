#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace zk {

// The hashes of TLS key schedules and record MACs.
enum class ETlsHash
{
    Sha1, // only as the HMAC of CBC suites
    Sha256,
    Sha384,
};

std::size_t TlsHashLength(ETlsHash hash);

// Bytes of key material: wiped (OPENSSL_cleanse) when they are let go, so a
// secret does not linger in freed memory. Not copyable by accident.
class CSecretBytes
{
public:
    CSecretBytes() = default;
    explicit CSecretBytes(std::size_t size) : m_bytes(size) {}
    CSecretBytes(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {}
    CSecretBytes(const CSecretBytes&) = delete;
    CSecretBytes& operator=(const CSecretBytes&) = delete;
    CSecretBytes(CSecretBytes&& other) noexcept : m_bytes(std::move(other.m_bytes)) {}
    CSecretBytes& operator=(CSecretBytes&& other) noexcept;
    ~CSecretBytes() { Wipe(); }

    // Wipes and empties.
    void Wipe();
    void Assign(const std::uint8_t* data, std::size_t size);

    std::uint8_t* data() { return m_bytes.data(); }
    const std::uint8_t* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    bool operator==(const CSecretBytes& other) const { return m_bytes == other.m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Wipes memory that held a secret; the compiler may not leave it out.
void WipeSecretMemory(void* data, std::size_t size);

// HKDF-Extract (RFC 5869): false only when the library fails.
bool HkdfExtract(ETlsHash hash, const std::uint8_t* salt, std::size_t saltLength,
                 const std::uint8_t* key, std::size_t keyLength, CSecretBytes& prk);

// HKDF-Expand-Label of TLS 1.3 (RFC 8446, section 7.1): the label without its
// "tls13 " prefix, the context as given (a transcript hash or empty).
bool HkdfExpandLabel(ETlsHash hash, const CSecretBytes& secret, std::string_view label,
                     const std::uint8_t* context, std::size_t contextLength, std::size_t length,
                     CSecretBytes& out);

// The PRF of TLS 1.2 (RFC 5246, section 5) with the suite's hash.
bool Tls12Prf(ETlsHash hash, const CSecretBytes& secret, std::string_view label,
              const std::uint8_t* seed, std::size_t seedLength, std::size_t length,
              CSecretBytes& out);

// HMAC of the concatenation of the pieces; out gets TlsHashLength(hash) bytes.
struct CByteRun
{
    const std::uint8_t* m_data;
    std::size_t m_length;
};
bool ComputeHmac(ETlsHash hash, const CSecretBytes& key, const CByteRun* pieces, std::size_t count,
                 std::uint8_t* out);

// Compares two MACs in time that does not depend on where they differ.
bool MacsEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t length);

// The record ciphers of the suites the program reads.
enum class ETlsCipher
{
    Aes128Gcm,
    Aes256Gcm,
    ChaCha20Poly1305,
    Aes128Cbc,
    Aes256Cbc,
};

constexpr std::size_t kTlsAeadTagLength = 16; // GCM and Poly1305 alike
constexpr std::size_t kTlsCbcBlockLength = 16;

std::size_t TlsCipherKeyLength(ETlsCipher cipher);
bool IsTlsAeadCipher(ETlsCipher cipher);

// One direction's record decryption with one key: the library's context is
// made once, and every record only sets its nonce or IV.
class CTlsCipher
{
public:
    CTlsCipher();
    ~CTlsCipher();
    CTlsCipher(const CTlsCipher&) = delete;
    CTlsCipher& operator=(const CTlsCipher&) = delete;

    bool SetKey(ETlsCipher cipher, const CSecretBytes& key);
    bool HasKey() const { return m_hasKey; }
    // Lets the key go; the library wipes its schedule with the context.
    void Clear();

    // AEAD: in holds the ciphertext followed by the 16-byte tag; out gets
    // length - 16 bytes. False when the record does not authenticate.
    bool OpenAead(const std::uint8_t* nonce, std::size_t nonceLength, const std::uint8_t* aad,
                  std::size_t aadLength, const std::uint8_t* in, std::size_t length,
                  std::uint8_t* out);

    // CBC without the library's padding: length is a multiple of the block.
    bool DecryptCbc(const std::uint8_t* iv, const std::uint8_t* in, std::size_t length,
                    std::uint8_t* out);

private:
    struct CContext;
    std::unique_ptr<CContext> m_context;
    ETlsCipher m_cipher = ETlsCipher::Aes128Gcm;
    bool m_hasKey = false;
};

} // namespace zk
