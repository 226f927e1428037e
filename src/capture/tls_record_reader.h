#pragma once

#include "capture/tls_record_decrypter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

enum class ETlsRead
{
    More,    // every record so far was handed on; the rest waits for more bytes
    Stopped, // the caller's handler asked to stop
    Invalid, // the bytes are not TLS records
};

// TLS records out of one direction's stream bytes (RFC 8446, section 5.1;
// RFC 5246, section 6.2). A record that lies whole in a piece is handed on
// from the caller's buffer; only one that spans pieces is copied, and only
// its bytes are kept.
class CTlsRecordReader
{
public:
    // The largest fragment a record may carry: TLS 1.2's ciphertext bound of
    // 2^14 + 2048 bytes (RFC 5246, section 6.2.3), above TLS 1.3's.
    static constexpr std::size_t kMaxFragmentLength = 16384 + 2048;

    // Content types (RFC 8446, appendix B.1).
    static constexpr std::uint8_t kChangeCipherSpec = 20;
    static constexpr std::uint8_t kAlert = 21;
    static constexpr std::uint8_t kHandshake = 22;
    static constexpr std::uint8_t kApplicationData = 23;
    static constexpr std::uint8_t kHeartbeat = 24;

    // Whether the five bytes begin a record: a known content type, protocol
    // major version 3 and a fragment within bounds.
    static bool IsRecordHeader(const std::uint8_t* header)
    {
        if (header[0] < kChangeCipherSpec || header[0] > kHeartbeat || header[1] != 3 ||
            header[2] > 4)
            return false;
        return (std::size_t(header[3]) << 8 | header[4]) <= kMaxFragmentLength;
    }

    // Calls onRecord(header, fragment, length) for every record the bytes
    // complete, in order; the handler answers false to stop.
    template <class F> ETlsRead Read(const std::uint8_t* data, std::size_t length, F&& onRecord)
    {
        if (!m_partial.empty()) {
            std::size_t take = TakeIntoPartial(data, length);
            data += take;
            length -= take;
            if (m_invalid)
                return ETlsRead::Invalid;
            if (!PartialComplete())
                return ETlsRead::More;
            bool goOn = onRecord(m_partial.data(), m_partial.data() + kTlsRecordHeaderLength,
                                 m_partial.size() - kTlsRecordHeaderLength);
            m_partial.clear();
            if (!goOn)
                return ETlsRead::Stopped;
        }
        while (length >= kTlsRecordHeaderLength) {
            if (!IsRecordHeader(data)) {
                m_invalid = true;
                return ETlsRead::Invalid;
            }
            std::size_t whole = kTlsRecordHeaderLength + (std::size_t(data[3]) << 8 | data[4]);
            if (length < whole)
                break;
            if (!onRecord(data, data + kTlsRecordHeaderLength, whole - kTlsRecordHeaderLength))
                return ETlsRead::Stopped;
            data += whole;
            length -= whole;
        }
        if (length)
            m_partial.assign(data, data + length);
        if (m_partial.size() >= kTlsRecordHeaderLength && !IsRecordHeader(m_partial.data())) {
            m_invalid = true;
            return ETlsRead::Invalid;
        }
        return ETlsRead::More;
    }

    std::size_t BufferedBytes() const { return m_partial.size(); }
    void Clear()
    {
        m_partial.clear();
        m_partial.shrink_to_fit();
    }

private:
    // Adds bytes to the unfinished record, no further than its end;
    // answers how many were taken.
    std::size_t TakeIntoPartial(const std::uint8_t* data, std::size_t length)
    {
        std::size_t taken = 0;
        if (m_partial.size() < kTlsRecordHeaderLength) {
            taken = std::min(length, kTlsRecordHeaderLength - m_partial.size());
            m_partial.insert(m_partial.end(), data, data + taken);
            if (m_partial.size() < kTlsRecordHeaderLength)
                return taken;
            if (!IsRecordHeader(m_partial.data())) {
                m_invalid = true;
                return taken;
            }
        }
        std::size_t whole =
            kTlsRecordHeaderLength + (std::size_t(m_partial[3]) << 8 | m_partial[4]);
        std::size_t more = std::min(length - taken, whole - m_partial.size());
        m_partial.insert(m_partial.end(), data + taken, data + taken + more);
        return taken + more;
    }

    bool PartialComplete() const
    {
        return m_partial.size() >= kTlsRecordHeaderLength &&
               m_partial.size() ==
                   kTlsRecordHeaderLength + (std::size_t(m_partial[3]) << 8 | m_partial[4]);
    }

    std::vector<std::uint8_t> m_partial;
    bool m_invalid = false;
};

} // namespace zk
