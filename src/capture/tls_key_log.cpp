#include "capture/tls_key_log.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zk {
namespace {

struct CKeyLogLabel
{
    std::string_view m_label;
    ETlsSecret m_kind;
};

constexpr CKeyLogLabel kLabels[] = {
    {"CLIENT_RANDOM", ETlsSecret::MasterSecret},
    {"SERVER_HANDSHAKE_TRAFFIC_SECRET", ETlsSecret::ServerHandshake},
    {"SERVER_TRAFFIC_SECRET_0", ETlsSecret::ServerTraffic0},
};

// The longest secret of the format: a SHA-384 traffic secret or a master
// secret, 48 bytes.
constexpr std::size_t kMaxSecretLength = 48;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool DecodeHex(std::string_view text, std::uint8_t* out, std::size_t length)
{
    if (text.size() != 2 * length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        int high = HexDigit(text[2 * i]);
        int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

} // namespace

bool ParseTlsKeyLogLine(std::string_view line, ETlsSecret& kind, CTlsRandom& random,
                        CSecretBytes& secret)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::size_t firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos)
        return false;
    std::string_view label = line.substr(0, firstSpace);
    const CKeyLogLabel* known = nullptr;
    for (const CKeyLogLabel& candidate : kLabels) {
        if (candidate.m_label == label)
            known = &candidate;
    }
    if (!known)
        return false;
    std::string_view rest = line.substr(firstSpace + 1);
    std::size_t secondSpace = rest.find(' ');
    if (secondSpace == std::string_view::npos)
        return false;
    std::string_view secretText = rest.substr(secondSpace + 1);
    if (secretText.empty() || secretText.size() % 2 != 0 ||
        secretText.size() > 2 * kMaxSecretLength)
        return false;
    if (!DecodeHex(rest.substr(0, secondSpace), random.data(), random.size()))
        return false;
    CSecretBytes decoded(secretText.size() / 2);
    if (!DecodeHex(secretText, decoded.data(), decoded.size()))
        return false;
    kind = known->m_kind;
    secret = std::move(decoded);
    return true;
}

CTlsKeyLog::~CTlsKeyLog()
{
    Close();
}

void CTlsKeyLog::SetPath(const std::string& path)
{
    Close();
    m_entries.clear();
    m_unclaimedOrder.clear();
    m_wantedCount = 0;
    m_path = path;
}

void CTlsKeyLog::Close()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_offset = 0;
    m_device = 0;
    m_inode = 0;
    WipeSecretMemory(m_partialLine.data(), m_partialLine.size());
    m_partialLine.clear();
    m_skippingLine = false;
    m_droppedUnclaimed = false;
}

void CTlsKeyLog::Want(const CTlsRandom& random, std::uint64_t nowMs)
{
    auto [at, added] = m_entries.try_emplace(random);
    if (at->second.m_wanted)
        return;
    at->second.m_wanted = true;
    ++m_wantedCount;
    if (added && m_droppedUnclaimed && m_fd >= 0)
        ReadRange(0, m_offset, nowMs);
}

void CTlsKeyLog::Forget(const CTlsRandom& random)
{
    auto at = m_entries.find(random);
    if (at == m_entries.end() || !at->second.m_wanted)
        return;
    --m_wantedCount;
    m_entries.erase(at);
}

const CSecretBytes* CTlsKeyLog::Find(const CTlsRandom& random, ETlsSecret kind, std::uint64_t nowMs)
{
    auto look = [&]() -> const CSecretBytes* {
        auto at = m_entries.find(random);
        if (at == m_entries.end())
            return nullptr;
        const CSecretBytes& secret = at->second.m_secrets[static_cast<std::size_t>(kind)];
        return secret.empty() ? nullptr : &secret;
    };
    DropOldUnclaimed(nowMs);
    if (const CSecretBytes* found = look())
        return found;
    Poll(nowMs);
    return look();
}

bool CTlsKeyLog::Poll(std::uint64_t nowMs)
{
    if (m_path.empty())
        return false;
    if (m_everRead && nowMs >= m_lastReadMs && nowMs - m_lastReadMs < kMinReadIntervalMs)
        return false;
    m_everRead = true;
    m_lastReadMs = nowMs;
    DropOldUnclaimed(nowMs);
    return ReadAppended(nowMs);
}

bool CTlsKeyLog::ReadAppended(std::uint64_t nowMs)
{
    struct stat byName;
    if (stat(m_path.c_str(), &byName) != 0) {
        // Not there (yet, or any more): whatever comes under the name later
        // is a new file.
        Close();
        return false;
    }
    if (m_fd >= 0 &&
        (byName.st_dev != m_device || byName.st_ino != m_inode || byName.st_size < m_offset))
        Close();
    if (m_fd < 0) {
        m_fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (m_fd < 0)
            return false;
        struct stat opened;
        if (fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            Close();
            return false;
        }
        m_device = opened.st_dev;
        m_inode = opened.st_ino;
    }
    return ReadRange(m_offset, -1, nowMs);
}

// Reads [from, to) of the open file, or from to its end when to is -1. A
// read of the appended bytes goes on with the unfinished line; a read again
// from the start (to is where the appended reads have come) takes only the
// lines of wanted randoms, with a line buffer of its own.
bool CTlsKeyLog::ReadRange(off_t from, off_t to, std::uint64_t nowMs)
{
    bool rescan = to >= 0;
    std::string rescanLine;
    bool rescanSkipping = false;
    std::string& line = rescan ? rescanLine : m_partialLine;
    bool& skipping = rescan ? rescanSkipping : m_skippingLine;
    m_rescanning = rescan;

    std::vector<char> chunk(kReadChunk);
    bool arrived = false;
    off_t at = from;
    for (;;) {
        std::size_t want = chunk.size();
        if (rescan) {
            if (at >= to)
                break;
            want = std::min<std::size_t>(want, static_cast<std::size_t>(to - at));
        }
        ssize_t got = pread(m_fd, chunk.data(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        at += got;
        std::size_t start = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
            if (chunk[i] != '\n')
                continue;
            if (!skipping) {
                line.append(chunk.data() + start, i - start);
                if (line.size() <= kMaxLineLength)
                    arrived = TakeLine(line, nowMs) || arrived;
            }
            WipeSecretMemory(line.data(), line.size());
            line.clear();
            skipping = false;
            start = i + 1;
        }
        if (!skipping) {
            line.append(chunk.data() + start, got - start);
            if (line.size() > kMaxLineLength) {
                WipeSecretMemory(line.data(), line.size());
                line.clear();
                skipping = true;
            }
        }
        WipeSecretMemory(chunk.data(), static_cast<std::size_t>(got));
    }
    if (!rescan)
        m_offset = at;
    WipeSecretMemory(rescanLine.data(), rescanLine.size());
    m_rescanning = false;
    return arrived;
}

bool CTlsKeyLog::TakeBytes(const char* data, std::size_t length, std::uint64_t nowMs)
{
    bool arrived = false;
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] != '\n') {
            if (!m_skippingLine) {
                m_partialLine.push_back(data[i]);
                if (m_partialLine.size() > kMaxLineLength) {
                    WipeSecretMemory(m_partialLine.data(), m_partialLine.size());
                    m_partialLine.clear();
                    m_skippingLine = true;
                }
            }
            continue;
        }
        if (!m_skippingLine)
            arrived = TakeLine(m_partialLine, nowMs) || arrived;
        WipeSecretMemory(m_partialLine.data(), m_partialLine.size());
        m_partialLine.clear();
        m_skippingLine = false;
    }
    DropOldUnclaimed(nowMs);
    return arrived;
}

bool CTlsKeyLog::TakeLine(std::string_view line, std::uint64_t nowMs)
{
    ETlsSecret kind = ETlsSecret::Count;
    CTlsRandom random{};
    CSecretBytes secret;
    if (!ParseTlsKeyLogLine(line, kind, random, secret))
        return false;
    auto at = m_entries.find(random);
    if (at == m_entries.end()) {
        if (m_rescanning)
            return false;
        at = m_entries.try_emplace(random).first;
    }
    CEntry& entry = at->second;
    entry.m_secrets[static_cast<std::size_t>(kind)] = std::move(secret);
    if (entry.m_wanted)
        return true;
    entry.m_readMs = nowMs;
    m_unclaimedOrder.emplace_back(random, nowMs);
    DropOldUnclaimed(nowMs);
    return false;
}

void CTlsKeyLog::DropOldUnclaimed(std::uint64_t nowMs)
{
    while (!m_unclaimedOrder.empty()) {
        auto [random, readMs] = m_unclaimedOrder.front();
        bool old = nowMs >= readMs && nowMs - readMs > kUnclaimedKeepMs;
        if (!old && m_unclaimedOrder.size() <= kMaxUnclaimed)
            return;
        m_unclaimedOrder.pop_front();
        auto at = m_entries.find(random);
        // A later line of the same random has its own place further on.
        if (at == m_entries.end() || at->second.m_wanted || at->second.m_readMs != readMs)
            continue;
        m_entries.erase(at);
        m_droppedUnclaimed = true;
    }
}

} // namespace zk
