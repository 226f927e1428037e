#pragma once

#include "capture/tls_record_decrypter.h"
#include "platform/tls_crypto.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>

namespace zk {

// The secrets of the key log the TLS layer reads: TLS 1.2's master secret,
// TLS 1.3's server traffic secrets. The client's own secrets are not needed:
// only the server's direction is read.
enum class ETlsSecret
{
    MasterSecret,    // CLIENT_RANDOM
    ServerHandshake, // SERVER_HANDSHAKE_TRAFFIC_SECRET
    ServerTraffic0,  // SERVER_TRAFFIC_SECRET_0
    Count
};

// Reads one line of the NSS key log format, "<label> <client random in hex>
// <secret in hex>" (without its LF): false for comments, blank and malformed
// lines and labels of secrets the layer does not use.
bool ParseTlsKeyLogLine(std::string_view line, ETlsSecret& kind, CTlsRandom& random,
                        CSecretBytes& secret);

struct CTlsRandomHash
{
    std::size_t operator()(const CTlsRandom& random) const noexcept
    {
        std::size_t value = 0;
        std::memcpy(&value, random.data(), sizeof value);
        return value;
    }
};

// The key log a browser appends to while it runs, followed from the moment
// it appears: only what was appended is read, complete lines only; the file
// is opened again when it is replaced or shrinks. The latest line of a
// secret wins. Secrets are kept for the client randoms the TLS layer wants
// (its portal connections); lines of other connections are dropped soon
// after they are read. Nothing read is written, copied or logged anywhere;
// every secret is wiped when it is let go.
class CTlsKeyLog
{
public:
    // A lookup that misses reads the file again at most this often.
    static constexpr std::uint64_t kMinReadIntervalMs = 100;
    // A real line is under 250 bytes; a longer one is not a key log line and
    // is skipped to its end.
    static constexpr std::size_t kMaxLineLength = 1024;
    // Lines of randoms not (yet) wanted: the browser writes a connection's
    // secrets after its ServerHello, which the capture has seen by then, so
    // a few seconds is plenty. At most this many are held.
    static constexpr std::uint64_t kUnclaimedKeepMs = 10 * 1000;
    static constexpr std::size_t kMaxUnclaimed = 4096;
    // One read takes at most this much of the file at a time.
    static constexpr std::size_t kReadChunk = 64 * 1024;

    CTlsKeyLog() = default;
    ~CTlsKeyLog();
    CTlsKeyLog(const CTlsKeyLog&) = delete;
    CTlsKeyLog& operator=(const CTlsKeyLog&) = delete;

    // The file to follow; empty for none. Forgets everything read before.
    void SetPath(const std::string& path);

    // The TLS layer reads a connection of this random: its secrets are kept.
    void Want(const CTlsRandom& random, std::uint64_t nowMs);
    // The connection has ended: its secrets are wiped.
    void Forget(const CTlsRandom& random);

    // The secret when the log has it. A miss reads what has been appended,
    // no more often than kMinReadIntervalMs.
    const CSecretBytes* Find(const CTlsRandom& random, ETlsSecret kind, std::uint64_t nowMs);

    // Reads what has been appended when kMinReadIntervalMs have passed since
    // the last read: true when a wanted secret came.
    bool Poll(std::uint64_t nowMs);

    // Drops the lines of other connections once they have waited
    // kUnclaimedKeepMs; the capture loop's idle turn calls it too, so that
    // they do not stay when no lookup comes.
    void DropOldUnclaimed(std::uint64_t nowMs);

    std::size_t WantedCount() const { return m_wantedCount; }
    std::size_t HeldCount() const { return m_entries.size(); }

    // Takes the bytes of a file as read; public so that the fuzzer feeds
    // the line splitter directly. True when a wanted secret came.
    bool TakeBytes(const char* data, std::size_t length, std::uint64_t nowMs);

private:
    struct CEntry
    {
        std::array<CSecretBytes, static_cast<std::size_t>(ETlsSecret::Count)> m_secrets;
        bool m_wanted = false;
        std::uint64_t m_readMs = 0;
    };

    bool ReadAppended(std::uint64_t nowMs);
    bool ReadRange(off_t from, off_t to, std::uint64_t nowMs);
    bool TakeLine(std::string_view line, std::uint64_t nowMs);
    void Close();

    std::string m_path;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    off_t m_offset = 0;
    std::string m_partialLine; // an unfinished line: it may hold a secret, so it is wiped
    bool m_skippingLine = false;
    bool m_everRead = false;
    std::uint64_t m_lastReadMs = 0;
    // Unclaimed lines were dropped since the file was opened: a connection
    // wanted later may have had its line among them, so its Want reads the
    // file up to where it was read once more (a capture file's key log is
    // complete before the first packet is read).
    bool m_droppedUnclaimed = false;
    bool m_rescanning = false;

    std::unordered_map<CTlsRandom, CEntry, CTlsRandomHash> m_entries;
    std::deque<std::pair<CTlsRandom, std::uint64_t>> m_unclaimedOrder;
    std::size_t m_wantedCount = 0;
};

} // namespace zk
