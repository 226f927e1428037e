#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

// Handshake messages out of the plaintext of handshake records, which may
// carry several messages or a piece of one (RFC 8446, section 5.1). Only the
// bodies of the messages the TLS layer reads are gathered; the others (a
// certificate chain is the largest) are passed over by their length.
class CTlsHandshakeReader
{
public:
    // A browser's ClientHello with post-quantum key shares is about 2 KB;
    // EncryptedExtensions and ServerHello are smaller. A gathered message
    // above this is not a real one.
    static constexpr std::size_t kMaxMessageLength = 64 * 1024;

    // Handshake types (RFC 8446, appendix B.3).
    static constexpr std::uint8_t kClientHello = 1;
    static constexpr std::uint8_t kServerHello = 2;
    static constexpr std::uint8_t kNewSessionTicket = 4;
    static constexpr std::uint8_t kEncryptedExtensions = 8;
    static constexpr std::uint8_t kFinished = 20;
    static constexpr std::uint8_t kKeyUpdate = 24;

    static bool IsGathered(std::uint8_t type)
    {
        return type == kClientHello || type == kServerHello || type == kEncryptedExtensions ||
               type == kKeyUpdate;
    }

    // Calls onMessage(type, body, length) for every message the bytes
    // complete; body is null for a message passed over. False when a message
    // to gather is too long or the handler answers false.
    template <class F> bool Read(const std::uint8_t* data, std::size_t length, F&& onMessage)
    {
        while (length) {
            if (m_headerHave < kHeaderLength) {
                m_header[m_headerHave++] = *data++;
                --length;
                if (m_headerHave < kHeaderLength)
                    continue;
                m_bodyLeft =
                    std::size_t(m_header[1]) << 16 | std::size_t(m_header[2]) << 8 | m_header[3];
                m_gather = IsGathered(m_header[0]);
                if (m_gather && m_bodyLeft > kMaxMessageLength)
                    return false;
                m_body.clear();
            }
            std::size_t take = std::min(length, m_bodyLeft);
            if (m_gather)
                m_body.insert(m_body.end(), data, data + take);
            data += take;
            length -= take;
            m_bodyLeft -= take;
            if (m_bodyLeft)
                break;
            m_headerHave = 0;
            std::size_t bodyLength =
                std::size_t(m_header[1]) << 16 | std::size_t(m_header[2]) << 8 | m_header[3];
            if (!onMessage(m_header[0], m_gather ? m_body.data() : nullptr, bodyLength))
                return false;
        }
        return true;
    }

    // Whether a message is unfinished: a key change must fall on a record
    // boundary (RFC 8446, section 5.1).
    bool InMessage() const { return m_headerHave != 0; }
    std::size_t BufferedBytes() const { return m_headerHave ? m_body.size() : 0; }
    void Clear()
    {
        m_headerHave = 0;
        m_bodyLeft = 0;
        m_body.clear();
        m_body.shrink_to_fit();
    }

private:
    static constexpr std::size_t kHeaderLength = 4;
    std::uint8_t m_header[kHeaderLength] = {};
    std::size_t m_headerHave = 0;
    std::size_t m_bodyLeft = 0;
    bool m_gather = false;
    std::vector<std::uint8_t> m_body;
};

} // namespace zk
