#include "platform/tls_crypto.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zk {
namespace {

std::vector<std::uint8_t> Hex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

CSecretBytes Secret(const std::string& text)
{
    std::vector<std::uint8_t> bytes = Hex(text);
    return CSecretBytes(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> Bytes(const CSecretBytes& secret)
{
    return {secret.data(), secret.data() + secret.size()};
}

// The simple 1-RTT handshake of RFC 8448, section 3 (TLS_AES_128_GCM_SHA256).
const char kSharedSecret[] = "8b d4 05 4f b5 5b 9d 63 fd fb ac f9 f0 4b 9f 0d 35 e6 d6 3f 53 75 63 "
                             "ef d4 62 72 90 0f 89 49 2d";
const char kEarlySecret[] = "33 ad 0a 1c 60 7e c0 3b 09 e6 cd 98 93 68 0c e2 10 ad f3 00 aa 1f 26 "
                            "60 e1 b2 2e 10 f1 70 f9 2a";
const char kDerived[] = "6f 26 15 a1 08 c7 02 c5 67 8f 54 fc 9d ba b6 97 16 c0 76 18 9c 48 25 0c "
                        "eb ea c3 57 6c 36 11 ba";
const char kHandshakeSecret[] = "1d c8 26 e9 36 06 aa 6f dc 0a ad c1 2f 74 1b 01 04 6a a6 b9 9f 69 "
                                "1e d2 21 a9 f0 ca 04 3f be ac";
// Hash of ClientHello and ServerHello.
const char kHelloHash[] = "86 0c 06 ed c0 78 58 ee 8e 78 f0 e7 42 8c 58 ed d6 b4 3f 2c a3 e6 e9 5f "
                          "02 ed 06 3c f0 e1 ca d8";
const char kServerHandshakeSecret[] = "b6 7b 7d 69 0c c1 6c 4e 75 e5 42 13 cb 2d 37 b4 e9 c9 12 bc "
                                      "de d9 10 5d 42 be fd 59 d3 91 ad 38";
const char kServerApplicationSecret[] = "a1 1a f9 f0 55 31 f8 56 ad 47 11 6b 45 a9 50 32 82 04 b4 "
                                        "f4 4b fb 6b 3a 4b 4f 1f 3f cb 63 16 43";

TEST(Tls13KeySchedule, ExtractsTheSecretsOfTheRfc8448Handshake)
{
    CSecretBytes early;
    ASSERT_TRUE(HkdfExtract(ETlsHash::Sha256, nullptr, 0, nullptr, 0, early));
    EXPECT_EQ(Bytes(early), Hex(kEarlySecret));

    // "derived" takes the hash of an empty transcript.
    std::vector<std::uint8_t> emptyHash =
        Hex("e3 b0 c4 42 98 fc 1c 14 9a fb f4 c8 99 6f b9 24 27 ae 41 e4 64 9b 93 4c a4 95 99 1b "
            "78 52 b8 55");
    CSecretBytes derived;
    ASSERT_TRUE(HkdfExpandLabel(ETlsHash::Sha256, early, "derived", emptyHash.data(),
                                emptyHash.size(), 32, derived));
    EXPECT_EQ(Bytes(derived), Hex(kDerived));

    std::vector<std::uint8_t> shared = Hex(kSharedSecret);
    CSecretBytes handshake;
    ASSERT_TRUE(HkdfExtract(ETlsHash::Sha256, derived.data(), derived.size(), shared.data(),
                            shared.size(), handshake));
    EXPECT_EQ(Bytes(handshake), Hex(kHandshakeSecret));

    std::vector<std::uint8_t> helloHash = Hex(kHelloHash);
    CSecretBytes serverHandshake;
    ASSERT_TRUE(HkdfExpandLabel(ETlsHash::Sha256, handshake, "s hs traffic", helloHash.data(),
                                helloHash.size(), 32, serverHandshake));
    EXPECT_EQ(Bytes(serverHandshake), Hex(kServerHandshakeSecret));
}

TEST(Tls13KeySchedule, DerivesTheRecordKeysOfTheRfc8448Handshake)
{
    struct CCase
    {
        const char* m_secret;
        const char* m_key;
        const char* m_iv;
    };
    const CCase cases[] = {
        {kServerHandshakeSecret, "3f ce 51 60 09 c2 17 27 d0 f2 e4 e8 6e e4 03 bc",
         "5d 31 3e b2 67 12 76 ee 13 00 0b 30"},
        {kServerApplicationSecret, "9f 02 28 3b 6c 9c 07 ef c2 6b b9 f2 ac 92 e3 56",
         "cf 78 2b 88 dd 83 54 9a ad f1 e9 84"},
    };
    for (const CCase& c : cases) {
        CSecretBytes secret = Secret(c.m_secret);
        CSecretBytes key;
        CSecretBytes iv;
        ASSERT_TRUE(HkdfExpandLabel(ETlsHash::Sha256, secret, "key", nullptr, 0, 16, key));
        ASSERT_TRUE(HkdfExpandLabel(ETlsHash::Sha256, secret, "iv", nullptr, 0, 12, iv));
        EXPECT_EQ(Bytes(key), Hex(c.m_key));
        EXPECT_EQ(Bytes(iv), Hex(c.m_iv));
    }
}

TEST(Tls13KeySchedule, UpdatesATrafficSecret)
{
    // application_traffic_secret_N+1 (RFC 8446, section 7.2), checked against
    // an independent HKDF.
    CSecretBytes secret = Secret(kServerApplicationSecret);
    CSecretBytes next;
    ASSERT_TRUE(HkdfExpandLabel(ETlsHash::Sha256, secret, "traffic upd", nullptr, 0, 32, next));
    EXPECT_EQ(Bytes(next), Hex("51 92 1b 8a a3 00 19 76 eb 40 1d 0a 43 19 a8 51 64 16 a6 c5 60 01 "
                               "a3 57 e5 d1 62 03 1e 84 f9 16"));
}

TEST(Tls12Prf, MatchesTheKnownVectorsOfBothHashes)
{
    std::vector<std::uint8_t> seed256 = Hex("a0 ba 9f 93 6c da 31 18 27 a6 f7 96 ff d5 19 8c");
    CSecretBytes out;
    ASSERT_TRUE(Tls12Prf(ETlsHash::Sha256,
                         Secret("9b be 43 6b a9 40 f0 17 b1 76 52 84 9a 71 db 35"), "test label",
                         seed256.data(), seed256.size(), 32, out));
    EXPECT_EQ(Bytes(out), Hex("e3 f2 29 ba 72 7b e1 7b 8d 12 26 20 55 7c d4 53 c2 aa b2 1d 07 c3 "
                              "d4 95 32 9b 52 d4 e6 1e db 5a"));

    std::vector<std::uint8_t> seed384 = Hex("cd 66 5c f6 a8 44 7d d6 ff 8b 27 55 5e db 74 65");
    ASSERT_TRUE(Tls12Prf(ETlsHash::Sha384,
                         Secret("b8 0b 73 3d 6c ee fc dc 71 56 6e a4 8e 55 67 df"), "test label",
                         seed384.data(), seed384.size(), 48, out));
    EXPECT_EQ(
        Bytes(out),
        Hex("7b 0c 18 e9 ce d4 10 ed 18 04 f2 cf a3 4a 33 6a 1c 14 df fb 49 00 bb 5f d7 94 21 "
            "07 e8 1c 83 cd e9 ca 0f aa 60 be 9f e3 4f 82 b1 23 3c 91 46 a0"));
}

TEST(TlsHmac, HashesItsPiecesAsOneMessage)
{
    // RFC 4231, test case 2.
    CSecretBytes key(reinterpret_cast<const std::uint8_t*>("Jefe"), 4);
    std::string first = "what do ya want ";
    std::string second = "for nothing?";
    CByteRun pieces[] = {{reinterpret_cast<const std::uint8_t*>(first.data()), first.size()},
                         {reinterpret_cast<const std::uint8_t*>(second.data()), second.size()}};
    std::uint8_t mac[32];
    ASSERT_TRUE(ComputeHmac(ETlsHash::Sha256, key, pieces, 2, mac));
    EXPECT_EQ(std::vector<std::uint8_t>(mac, mac + 32),
              Hex("5b dc c1 46 bf 60 75 4e 6a 04 24 26 08 95 75 c7 5a 00 3f 08 9d 27 39 83 9d ec "
                  "58 b9 64 ec 38 43"));
}

TEST(TlsCipher, OpensWhatAuthenticatesAndRefusesATamperedRecord)
{
    // RFC 8439, section 2.8.2: ChaCha20-Poly1305 with its additional data.
    CSecretBytes key = Secret("80 81 82 83 84 85 86 87 88 89 8a 8b 8c 8d 8e 8f 90 91 92 93 94 95 "
                              "96 97 98 99 9a 9b 9c 9d 9e 9f");
    std::vector<std::uint8_t> nonce = Hex("07 00 00 00 40 41 42 43 44 45 46 47");
    std::vector<std::uint8_t> aad = Hex("50 51 52 53 c0 c1 c2 c3 c4 c5 c6 c7");
    std::vector<std::uint8_t> sealed = Hex(
        "d3 1a 8d 34 64 8e 60 db 7b 86 af bc 53 ef 7e c2 a4 ad ed 51 29 6e 08 fe a9 e2 b5 a7 36 ee "
        "62 d6 3d be a4 5e 8c a9 67 12 82 fa fb 69 da 92 72 8b 1a 71 de 0a 9e 06 0b 29 05 d6 a5 b6 "
        "7e cd 3b 36 92 dd bd 7f 2d 77 8b 8c 98 03 ae e3 28 09 1b 58 fa b3 24 e4 fa d6 75 94 55 85 "
        "80 8b 48 31 d7 bc 3f f4 de f0 8e 4b 7a 9d e5 76 d2 65 86 ce c6 4b 61 16 1a e1 0b 59 4f 09 "
        "e2 6a 7e 90 2e cb d0 60 06 91");
    CTlsCipher cipher;
    ASSERT_TRUE(cipher.SetKey(ETlsCipher::ChaCha20Poly1305, key));
    std::vector<std::uint8_t> plain(sealed.size() - kTlsAeadTagLength);
    ASSERT_TRUE(cipher.OpenAead(nonce.data(), nonce.size(), aad.data(), aad.size(), sealed.data(),
                                sealed.size(), plain.data()));
    std::string text(plain.begin(), plain.end());
    EXPECT_EQ(text.substr(0, 26), "Ladies and Gentlemen of th");

    sealed[3] ^= 1;
    EXPECT_FALSE(cipher.OpenAead(nonce.data(), nonce.size(), aad.data(), aad.size(), sealed.data(),
                                 sealed.size(), plain.data()));
    // The context is reused for the next record: a sound one opens again.
    sealed[3] ^= 1;
    EXPECT_TRUE(cipher.OpenAead(nonce.data(), nonce.size(), aad.data(), aad.size(), sealed.data(),
                                sealed.size(), plain.data()));
}

TEST(TlsCipher, RefusesKeysOfTheWrongLength)
{
    CTlsCipher cipher;
    EXPECT_FALSE(cipher.SetKey(ETlsCipher::Aes128Gcm, Secret("00 01 02")));
    EXPECT_FALSE(cipher.HasKey());
}

} // namespace
} // namespace zk
