#include "platform/tls_crypto.h"

#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <string>

namespace zk {
namespace {

// The longest output any of the key schedules asks of a KDF: a TLS 1.2 key
// block of the largest CBC suite is 2 * (48 + 32 + 16) bytes.
constexpr std::size_t kMaxKdfOutput = 255;
// HkdfLabel: a 2-byte length, a 1-byte label length with "tls13 " and the
// label, a 1-byte context length and the context (RFC 8446, section 7.1).
constexpr std::string_view kTls13LabelPrefix = "tls13 ";
constexpr std::size_t kMaxHkdfLabel = 2 + 1 + 255 + 1 + 255;

const char* DigestName(ETlsHash hash)
{
    switch (hash) {
    case ETlsHash::Sha1:
        return "SHA1";
    case ETlsHash::Sha256:
        return "SHA256";
    case ETlsHash::Sha384:
        return "SHA384";
    }
    return "SHA256";
}

// The library looks algorithms up by name; records need HMAC for every CBC
// record, so it is fetched once and kept for the life of the process.
EVP_MAC* HmacAlgorithm()
{
    static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

bool DeriveKdf(const char* name, OSSL_PARAM* params, std::uint8_t* out, std::size_t length)
{
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, name, nullptr);
    if (!kdf)
        return false;
    EVP_KDF_CTX* context = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    if (!context)
        return false;
    bool ok = EVP_KDF_derive(context, out, length, params) == 1;
    EVP_KDF_CTX_free(context);
    return ok;
}

const EVP_CIPHER* CipherAlgorithm(ETlsCipher cipher)
{
    switch (cipher) {
    case ETlsCipher::Aes128Gcm:
        return EVP_aes_128_gcm();
    case ETlsCipher::Aes256Gcm:
        return EVP_aes_256_gcm();
    case ETlsCipher::ChaCha20Poly1305:
        return EVP_chacha20_poly1305();
    case ETlsCipher::Aes128Cbc:
        return EVP_aes_128_cbc();
    case ETlsCipher::Aes256Cbc:
        return EVP_aes_256_cbc();
    }
    return nullptr;
}

} // namespace

std::size_t TlsHashLength(ETlsHash hash)
{
    switch (hash) {
    case ETlsHash::Sha1:
        return 20;
    case ETlsHash::Sha256:
        return 32;
    case ETlsHash::Sha384:
        return 48;
    }
    return 32;
}

CSecretBytes& CSecretBytes::operator=(CSecretBytes&& other) noexcept
{
    if (this != &other) {
        Wipe();
        m_bytes = std::move(other.m_bytes);
    }
    return *this;
}

void CSecretBytes::Wipe()
{
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
}

void CSecretBytes::Assign(const std::uint8_t* data, std::size_t size)
{
    Wipe();
    m_bytes.assign(data, data + size);
}

void WipeSecretMemory(void* data, std::size_t size)
{
    if (size)
        OPENSSL_cleanse(data, size);
}

bool HkdfExtract(ETlsHash hash, const std::uint8_t* salt, std::size_t saltLength,
                 const std::uint8_t* key, std::size_t keyLength, CSecretBytes& prk)
{
    // HKDF takes a missing salt as HashLen zeros (RFC 5869, section 2.2);
    // the library wants it spelled out.
    std::array<std::uint8_t, 64> zeros{};
    std::size_t hashLength = TlsHashLength(hash);
    if (saltLength == 0) {
        salt = zeros.data();
        saltLength = hashLength;
    }
    if (keyLength == 0) {
        key = zeros.data();
        keyLength = hashLength;
    }
    int mode = EVP_KDF_HKDF_MODE_EXTRACT_ONLY;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(DigestName(hash)),
                                         0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(key),
                                          keyLength),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<std::uint8_t*>(salt),
                                          saltLength),
        OSSL_PARAM_construct_end(),
    };
    CSecretBytes out(hashLength);
    if (!DeriveKdf("HKDF", params, out.data(), out.size()))
        return false;
    prk = std::move(out);
    return true;
}

bool HkdfExpandLabel(ETlsHash hash, const CSecretBytes& secret, std::string_view label,
                     const std::uint8_t* context, std::size_t contextLength, std::size_t length,
                     CSecretBytes& out)
{
    std::size_t labelLength = kTls13LabelPrefix.size() + label.size();
    if (secret.empty() || length == 0 || length > kMaxKdfOutput || labelLength > 255 ||
        contextLength > 255)
        return false;
    std::array<std::uint8_t, kMaxHkdfLabel> info{};
    std::size_t at = 0;
    info[at++] = static_cast<std::uint8_t>(length >> 8);
    info[at++] = static_cast<std::uint8_t>(length);
    info[at++] = static_cast<std::uint8_t>(labelLength);
    std::memcpy(info.data() + at, kTls13LabelPrefix.data(), kTls13LabelPrefix.size());
    at += kTls13LabelPrefix.size();
    std::memcpy(info.data() + at, label.data(), label.size());
    at += label.size();
    info[at++] = static_cast<std::uint8_t>(contextLength);
    if (contextLength)
        std::memcpy(info.data() + at, context, contextLength);
    at += contextLength;

    int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(DigestName(hash)),
                                         0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
                                          const_cast<std::uint8_t*>(secret.data()), secret.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), at),
        OSSL_PARAM_construct_end(),
    };
    CSecretBytes result(length);
    if (!DeriveKdf("HKDF", params, result.data(), result.size()))
        return false;
    out = std::move(result);
    return true;
}

bool Tls12Prf(ETlsHash hash, const CSecretBytes& secret, std::string_view label,
              const std::uint8_t* seed, std::size_t seedLength, std::size_t length,
              CSecretBytes& out)
{
    if (secret.empty() || length == 0 || length > kMaxKdfOutput)
        return false;
    // The PRF's seed is the label followed by the caller's seed.
    std::string labelAndSeed(label);
    labelAndSeed.append(reinterpret_cast<const char*>(seed), seedLength);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(DigestName(hash)),
                                         0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET,
                                          const_cast<std::uint8_t*>(secret.data()), secret.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, labelAndSeed.data(),
                                          labelAndSeed.size()),
        OSSL_PARAM_construct_end(),
    };
    CSecretBytes result(length);
    bool ok = DeriveKdf("TLS1-PRF", params, result.data(), result.size());
    // The seed holds the randoms only, which travel in the clear; nothing of
    // the secret is in it.
    if (!ok)
        return false;
    out = std::move(result);
    return true;
}

bool ComputeHmac(ETlsHash hash, const CSecretBytes& key, const CByteRun* pieces, std::size_t count,
                 std::uint8_t* out)
{
    EVP_MAC* mac = HmacAlgorithm();
    if (!mac)
        return false;
    EVP_MAC_CTX* context = EVP_MAC_CTX_new(mac);
    if (!context)
        return false;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(DigestName(hash)),
                                         0),
        OSSL_PARAM_construct_end(),
    };
    bool ok = EVP_MAC_init(context, key.data(), key.size(), params) == 1;
    for (std::size_t i = 0; ok && i < count; ++i)
        ok = EVP_MAC_update(context, pieces[i].m_data, pieces[i].m_length) == 1;
    std::size_t written = 0;
    ok = ok && EVP_MAC_final(context, out, &written, TlsHashLength(hash)) == 1 &&
         written == TlsHashLength(hash);
    EVP_MAC_CTX_free(context);
    return ok;
}

bool MacsEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t length)
{
    return CRYPTO_memcmp(a, b, length) == 0;
}

std::size_t TlsCipherKeyLength(ETlsCipher cipher)
{
    switch (cipher) {
    case ETlsCipher::Aes128Gcm:
    case ETlsCipher::Aes128Cbc:
        return 16;
    case ETlsCipher::Aes256Gcm:
    case ETlsCipher::ChaCha20Poly1305:
    case ETlsCipher::Aes256Cbc:
        return 32;
    }
    return 16;
}

bool IsTlsAeadCipher(ETlsCipher cipher)
{
    return cipher == ETlsCipher::Aes128Gcm || cipher == ETlsCipher::Aes256Gcm ||
           cipher == ETlsCipher::ChaCha20Poly1305;
}

struct CTlsCipher::CContext
{
    EVP_CIPHER_CTX* m_cipher = nullptr;
    ~CContext() { EVP_CIPHER_CTX_free(m_cipher); }
};

CTlsCipher::CTlsCipher() : m_context(std::make_unique<CContext>()) {}
CTlsCipher::~CTlsCipher() = default;

bool CTlsCipher::SetKey(ETlsCipher cipher, const CSecretBytes& key)
{
    m_hasKey = false;
    if (key.size() != TlsCipherKeyLength(cipher))
        return false;
    // A fresh context each time, so that the old key's schedule goes with
    // the old context (the library wipes it when it frees it).
    EVP_CIPHER_CTX_free(m_context->m_cipher);
    m_context->m_cipher = EVP_CIPHER_CTX_new();
    if (!m_context->m_cipher)
        return false;
    if (EVP_DecryptInit_ex(m_context->m_cipher, CipherAlgorithm(cipher), nullptr, key.data(),
                           nullptr) != 1)
        return false;
    if (!IsTlsAeadCipher(cipher))
        EVP_CIPHER_CTX_set_padding(m_context->m_cipher, 0);
    m_cipher = cipher;
    m_hasKey = true;
    return true;
}

void CTlsCipher::Clear()
{
    EVP_CIPHER_CTX_free(m_context->m_cipher);
    m_context->m_cipher = nullptr;
    m_hasKey = false;
}

bool CTlsCipher::OpenAead(const std::uint8_t* nonce, std::size_t nonceLength,
                          const std::uint8_t* aad, std::size_t aadLength, const std::uint8_t* in,
                          std::size_t length, std::uint8_t* out)
{
    // Both AEADs of TLS take a 12-byte nonce, the length the library's
    // contexts are made with.
    if (!m_hasKey || !IsTlsAeadCipher(m_cipher) || nonceLength != 12 ||
        length < kTlsAeadTagLength || length - kTlsAeadTagLength > INT_MAX || aadLength > INT_MAX)
        return false;
    EVP_CIPHER_CTX* ctx = m_context->m_cipher;
    std::size_t textLength = length - kTlsAeadTagLength;
    int written = 0;
    if (EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce) != 1)
        return false;
    if (EVP_DecryptUpdate(ctx, nullptr, &written, aad, static_cast<int>(aadLength)) != 1)
        return false;
    if (textLength && EVP_DecryptUpdate(ctx, out, &written, in, static_cast<int>(textLength)) != 1)
        return false;
    if (EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(kTlsAeadTagLength),
                            const_cast<std::uint8_t*>(in + textLength)) != 1)
        return false;
    int finalWritten = 0;
    return EVP_DecryptFinal_ex(ctx, out + written, &finalWritten) == 1;
}

bool CTlsCipher::DecryptCbc(const std::uint8_t* iv, const std::uint8_t* in, std::size_t length,
                            std::uint8_t* out)
{
    if (!m_hasKey || IsTlsAeadCipher(m_cipher) || length == 0 || length % kTlsCbcBlockLength != 0 ||
        length > INT_MAX)
        return false;
    EVP_CIPHER_CTX* ctx = m_context->m_cipher;
    int written = 0;
    if (EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, iv) != 1)
        return false;
    if (EVP_DecryptUpdate(ctx, out, &written, in, static_cast<int>(length)) != 1)
        return false;
    int finalWritten = 0;
    return EVP_DecryptFinal_ex(ctx, out + written, &finalWritten) == 1 &&
           static_cast<std::size_t>(written + finalWritten) == length;
}

} // namespace zk
