#include "capture/tls_key_log.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace zk {
namespace {

CTlsRandom Random(std::uint8_t first)
{
    CTlsRandom random{};
    random.fill(0x11);
    random[0] = first;
    return random;
}

std::string Hex(const std::uint8_t* data, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

std::string Line(const std::string& label, std::uint8_t randomFirst, std::uint8_t secretByte,
                 std::size_t secretLength = 32)
{
    CTlsRandom random = Random(randomFirst);
    std::string secret(secretLength, static_cast<char>(secretByte));
    return label + " " + Hex(random.data(), random.size()) + " " +
           Hex(reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size()) + "\n";
}

class TlsKeyLogTest : public ::testing::Test
{
protected:
    void SetUp() override { m_log.SetPath(Path().string()); }

    std::filesystem::path Path() const { return m_dir.Path() / "keys.log"; }

    void Append(const std::string& text)
    {
        std::ofstream out(Path(), std::ios::binary | std::ios::app);
        out << text;
    }

    // The first byte of the secret the log holds, or -1.
    int SecretByte(std::uint8_t randomFirst, ETlsSecret kind)
    {
        m_now += CTlsKeyLog::kMinReadIntervalMs;
        const CSecretBytes* secret = m_log.Find(Random(randomFirst), kind, m_now);
        return secret ? secret->data()[0] : -1;
    }

    test::CTempDir m_dir;
    CTlsKeyLog m_log;
    std::uint64_t m_now = 1000;
};

TEST(TlsKeyLogLine, ReadsTheLabelsItUsesAndRefusesTheRest)
{
    ETlsSecret kind = ETlsSecret::Count;
    CTlsRandom random{};
    CSecretBytes secret;
    std::string line = Line("SERVER_TRAFFIC_SECRET_0", 7, 0xcd, 48);
    line.pop_back();
    ASSERT_TRUE(ParseTlsKeyLogLine(line + "\r", kind, random, secret));
    EXPECT_EQ(kind, ETlsSecret::ServerTraffic0);
    EXPECT_EQ(random, Random(7));
    EXPECT_EQ(secret.size(), 48u);
    EXPECT_EQ(secret.data()[47], 0xcd);

    for (std::string bad :
         {Line("CLIENT_TRAFFIC_SECRET_0", 1, 1), Line("EXPORTER_SECRET", 1, 1),
          std::string("# a comment"), std::string(""), std::string("CLIENT_RANDOM 0011 2233"),
          std::string("CLIENT_RANDOM ") + std::string(64, 'g') + " 00",
          Line("CLIENT_RANDOM", 1, 1, 64)}) {
        if (!bad.empty() && bad.back() == '\n')
            bad.pop_back();
        EXPECT_FALSE(ParseTlsKeyLogLine(bad, kind, random, secret)) << bad;
    }
}

TEST_F(TlsKeyLogTest, FollowsAFileThatAppearsLaterAndGrowsInPieces)
{
    m_log.Want(Random(1), m_now);
    EXPECT_EQ(SecretByte(1, ETlsSecret::MasterSecret), -1);
    std::string line = Line("CLIENT_RANDOM", 1, 0x42, 48);
    // Half a line is not read; the rest completes it.
    Append(line.substr(0, 40));
    EXPECT_EQ(SecretByte(1, ETlsSecret::MasterSecret), -1);
    Append(line.substr(40));
    EXPECT_EQ(SecretByte(1, ETlsSecret::MasterSecret), 0x42);
}

TEST_F(TlsKeyLogTest, AMissReadsTheFileAtMostEveryHundredMilliseconds)
{
    m_log.Want(Random(2), m_now);
    EXPECT_EQ(m_log.Find(Random(2), ETlsSecret::ServerHandshake, m_now), nullptr);
    Append(Line("SERVER_HANDSHAKE_TRAFFIC_SECRET", 2, 0x55));
    EXPECT_EQ(m_log.Find(Random(2), ETlsSecret::ServerHandshake,
                         m_now + CTlsKeyLog::kMinReadIntervalMs - 1),
              nullptr);
    EXPECT_NE(
        m_log.Find(Random(2), ETlsSecret::ServerHandshake, m_now + CTlsKeyLog::kMinReadIntervalMs),
        nullptr);
}

TEST_F(TlsKeyLogTest, TheLatestLineWins)
{
    m_log.Want(Random(3), m_now);
    Append(Line("SERVER_TRAFFIC_SECRET_0", 3, 0x01) + Line("SERVER_TRAFFIC_SECRET_0", 3, 0x02));
    EXPECT_EQ(SecretByte(3, ETlsSecret::ServerTraffic0), 0x02);
}

TEST_F(TlsKeyLogTest, AReplacedOrShrunkFileIsReadFromItsStart)
{
    m_log.Want(Random(4), m_now);
    m_log.Want(Random(5), m_now);
    m_log.Want(Random(6), m_now);
    Append(Line("CLIENT_RANDOM", 4, 0x04, 48) + Line("CLIENT_RANDOM", 9, 0x09, 48));
    EXPECT_EQ(SecretByte(4, ETlsSecret::MasterSecret), 0x04);

    // Replaced: a new file under the name.
    std::filesystem::path fresh = m_dir.Path() / "fresh.log";
    {
        std::ofstream out(fresh, std::ios::binary);
        out << Line("CLIENT_RANDOM", 5, 0x05, 48);
    }
    std::filesystem::rename(fresh, Path());
    EXPECT_EQ(SecretByte(5, ETlsSecret::MasterSecret), 0x05);

    // Shrunk in place: truncated and written again, shorter.
    {
        std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
        out << Line("CLIENT_RANDOM", 6, 0x06, 48).substr(0, 20);
    }
    SecretByte(6, ETlsSecret::MasterSecret);
    Append(Line("CLIENT_RANDOM", 6, 0x06, 48).substr(20));
    EXPECT_EQ(SecretByte(6, ETlsSecret::MasterSecret), 0x06);
}

TEST_F(TlsKeyLogTest, KeepsOnlyWantedSecretsAndWipesForgottenOnes)
{
    Append(Line("CLIENT_RANDOM", 7, 0x07, 48) + Line("CLIENT_RANDOM", 8, 0x08, 48));
    SecretByte(7, ETlsSecret::MasterSecret);
    EXPECT_EQ(m_log.HeldCount(), 2u);
    // Wanted soon after the line was read: kept.
    m_log.Want(Random(7), m_now);
    // Other sites' lines go once they have been unclaimed for a while.
    m_now += CTlsKeyLog::kUnclaimedKeepMs + 1;
    SecretByte(7, ETlsSecret::MasterSecret);
    EXPECT_EQ(m_log.HeldCount(), 1u);
    EXPECT_EQ(SecretByte(7, ETlsSecret::MasterSecret), 0x07);
    m_log.Forget(Random(7));
    EXPECT_EQ(m_log.HeldCount(), 0u);
    EXPECT_EQ(SecretByte(7, ETlsSecret::MasterSecret), -1);
}

TEST_F(TlsKeyLogTest, AConnectionWantedAfterItsLineWasDroppedFindsItAgain)
{
    // A capture file's key log holds every line before the first packet.
    Append(Line("CLIENT_RANDOM", 10, 0x10, 48));
    SecretByte(10, ETlsSecret::MasterSecret);
    m_now += CTlsKeyLog::kUnclaimedKeepMs + 1;
    SecretByte(11, ETlsSecret::MasterSecret);
    EXPECT_EQ(m_log.HeldCount(), 0u);
    m_log.Want(Random(10), m_now);
    EXPECT_EQ(SecretByte(10, ETlsSecret::MasterSecret), 0x10);
}

TEST_F(TlsKeyLogTest, SkipsOverlongLinesToTheirEnd)
{
    m_log.Want(Random(12), m_now);
    Append(std::string(CTlsKeyLog::kMaxLineLength + 10, 'x'));
    SecretByte(12, ETlsSecret::MasterSecret);
    Append(Line("CLIENT_RANDOM", 12, 0x99, 48) + "\n" + Line("CLIENT_RANDOM", 12, 0x12, 48));
    // The first line continued the overlong one and is skipped with it.
    EXPECT_EQ(SecretByte(12, ETlsSecret::MasterSecret), 0x12);
}

} // namespace
} // namespace zk
