#pragma once

#include "capture/simple_http_header.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

// The first CR LF in [first, last), or null.
const std::uint8_t* FindCrLf(const std::uint8_t* first, const std::uint8_t* last);

// True when the body is sent in chunked transfer coding: a Transfer-Encoding
// whose whole value is "chunked", in any case.
bool IsChunkedHttpBody(const CSimpleHttpHeaderList& headers);

bool DecodeChunkedHttpBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                           std::size_t length, std::string& decoded);

// Reads the chunk data of a chunked body as its bytes arrive (RFC 9112,
// section 7.1). The body is offered whole every time, grown or not, and the
// reading goes on where it stopped, so each byte is looked at about once.
// The first size line may carry chunk extensions; later ones are read
// strictly, as DecodeChunkedHttpBody reads them.
class CChunkedBodyReader
{
public:
    // The next run of chunk data from where the reading stands; false when
    // more bytes are needed, the last chunk has been read or the body is
    // malformed.
    bool NextData(const std::uint8_t* body, std::size_t length, const std::uint8_t*& data,
                  std::size_t& dataLength);
    // The first used bytes of the run NextData gave have been taken.
    void Consume(std::size_t used);

    bool HasFirstSizeLine() const { return !m_first; }
    bool IsComplete() const { return m_state == EState::Complete; }
    bool IsMalformed() const { return m_state == EState::Malformed; }

private:
    enum class EState
    {
        SizeLine,
        Data,
        DataEnd, // the CR LF after a chunk's data
        Complete,
        Malformed,
    };

    EState m_state = EState::SizeLine;
    bool m_first = true;
    std::size_t m_at = 0;      // the next body byte to read
    std::size_t m_scanned = 0; // how far the search for the size line's end got
    std::size_t m_left = 0;    // data bytes left in the chunk
};

} // namespace zk
