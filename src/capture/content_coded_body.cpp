#include "capture/content_coded_body.h"

#include <algorithm>
#include <cstring>

namespace zk {
namespace {

// Where a decoder reads when there is no new input: a valid pointer, as not
// every library takes a null one.
const std::uint8_t kNoBytes[1] = {};

// Optional white space around list elements (RFC 9110, section 5.6.1).
bool IsOws(char c)
{
    return c == ' ' || c == '\t';
}

// Appends the codings one Content-Encoding value lists; false when one of
// them is not a coding the program undoes. "identity" and empty elements
// name no coding.
bool ReadCodings(const std::string& value, std::vector<EContentCoding>& codings)
{
    std::size_t at = 0;
    while (at <= value.size()) {
        std::size_t end = value.find(',', at);
        if (end == std::string::npos)
            end = value.size();
        std::size_t first = at;
        std::size_t last = end;
        while (first < last && IsOws(value[first]))
            ++first;
        while (last > first && IsOws(value[last - 1]))
            --last;
        std::string name = value.substr(first, last - first);
        at = end + 1;
        if (name.empty() || EqualsNoCase(name, "identity"))
            continue;
        if (EqualsNoCase(name, "gzip") || EqualsNoCase(name, "x-gzip"))
            codings.push_back(EContentCoding::Gzip);
        else if (EqualsNoCase(name, "deflate"))
            codings.push_back(EContentCoding::Deflate);
        else if (EqualsNoCase(name, "br"))
            codings.push_back(EContentCoding::Brotli);
        else if (EqualsNoCase(name, "zstd"))
            codings.push_back(EContentCoding::Zstd);
        else
            return false;
    }
    return true;
}

} // namespace

ECodedBody CContentCodedBody::Update(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                                     std::size_t length, std::size_t decodedLimit)
{
    m_newBytes = 0;
    if (m_state == ECodedBody::NotRead)
        Start(headers);
    if (m_state == ECodedBody::Decoding)
        Decode(body, length, decodedLimit);
    return m_state;
}

std::size_t CContentCodedBody::MemoryBytes() const
{
    // An empty string's capacity is the room inside the object itself.
    std::size_t bytes = m_memory.Bytes() + (m_decoded.empty() ? 0 : m_decoded.capacity());
    for (const CStage& stage : m_stages)
        bytes += stage.m_input.capacity();
    return bytes;
}

void CContentCodedBody::Start(const CSimpleHttpHeaderList& headers)
{
    // Several header lines are one list, in the order of the lines (RFC 9110,
    // section 5.3).
    for (const CSimpleHttpHeaderPtr& header : headers) {
        if (!EqualsNoCase(header->m_name, "Content-Encoding"))
            continue;
        if (!ReadCodings(header->m_value, m_codings)) {
            m_state = ECodedBody::Unknown;
            return;
        }
    }
    if (m_codings.empty()) {
        m_state = ECodedBody::Plain;
        return;
    }
    if (m_codings.size() > kMaxCodings) {
        m_state = ECodedBody::Unknown;
        return;
    }
    m_stages.resize(m_codings.size());
    for (std::size_t i = 0; i < m_stages.size(); ++i) {
        m_stages[i].m_decoder =
            CContentDecoder::Create(m_codings[m_codings.size() - 1 - i], m_memory);
        if (!m_stages[i].m_decoder) {
            m_state = ECodedBody::Corrupt;
            Release();
            return;
        }
    }
    m_chunked = IsChunkedHttpBody(headers);
    m_state = ECodedBody::Decoding;
}

// The decoded bytes' buffer, made once. When the last decoder can decode
// straight into it, it gets a block's room beyond the limit, and the decoder
// keeps no window of its own: several zstd pages with large windows then
// cost little more than their decoded bytes.
bool CContentCodedBody::PrepareOutput(std::size_t decodedLimit)
{
    if (!m_decoded.empty() || decodedLimit == 0)
        return !m_decoded.empty();
    m_decodedLimit = decodedLimit;
    // The last stage undoes the first coding applied.
    if (m_codings.front() != EContentCoding::Zstd) {
        m_decoded.resize(decodedLimit);
        return true;
    }
    m_decoded.resize(decodedLimit + kStableOutputSlackBytes);
    auto* buffer = reinterpret_cast<std::uint8_t*>(m_decoded.data());
    if (!m_stages.back().m_decoder->UseStableOutput(buffer, m_decoded.size())) {
        m_decoded.resize(decodedLimit);
        m_decoded.shrink_to_fit();
    }
    return true;
}

void CContentCodedBody::Decode(const std::uint8_t* body, std::size_t length,
                               std::size_t decodedLimit)
{
    if (!PrepareOutput(decodedLimit))
        return;
    std::size_t before = std::min(m_decodedLength, m_decodedLimit);
    while (m_state == ECodedBody::Decoding && m_decodedLength < m_decodedLimit) {
        const std::uint8_t* data = nullptr;
        std::size_t dataLength = 0;
        if (m_chunked) {
            if (!m_chunks.NextData(body, length, data, dataLength)) {
                // A chunked body that ends before its coded stream does is
                // truncated, as is one whose framing breaks.
                if (m_chunks.IsMalformed() || m_chunks.IsComplete()) {
                    Pump(kNoBytes, 0);
                    if (m_state == ECodedBody::Decoding)
                        m_state = ECodedBody::Corrupt;
                }
                break;
            }
        } else {
            if (m_rawAt >= length)
                break;
            data = body + m_rawAt;
            dataLength = length - m_rawAt;
        }
        std::size_t used = Pump(data, dataLength);
        if (m_chunked)
            m_chunks.Consume(used);
        else
            m_rawAt += used;
        if (used < dataLength)
            break; // the output is full, or the coded stream has ended or failed
    }
    // Bytes still waiting between the stages may decode without new input.
    if (m_state == ECodedBody::Decoding && m_decodedLength < m_decodedLimit)
        Pump(kNoBytes, 0);
    m_newBytes = std::min(m_decodedLength, m_decodedLimit) - before;
    if (m_state != ECodedBody::Decoding || m_decodedLength >= m_decodedLimit)
        Release();
}

// Runs the stages until none can move: the body's bytes into the first, each
// stage's output into the next, the last one's into the decoded bytes.
// Answers how many of the body's bytes were taken.
std::size_t CContentCodedBody::Pump(const std::uint8_t* data, std::size_t length)
{
    std::size_t taken = 0;
    bool moved = true;
    while (moved && m_state == ECodedBody::Decoding) {
        moved = false;
        for (std::size_t i = 0; i < m_stages.size() && m_state == ECodedBody::Decoding; ++i) {
            std::size_t used = 0;
            if (i == 0) {
                moved |= RunStage(0, data + taken, length - taken, used);
                taken += used;
            } else {
                CStage& stage = m_stages[i];
                moved |= RunStage(i, stage.m_input.data() + stage.m_inputAt,
                                  stage.m_input.size() - stage.m_inputAt, used);
                stage.m_inputAt += used;
            }
        }
    }
    // Bytes the first stage has not taken wait in the body; after the last
    // coding's end nothing more is read, so the rest counts as taken.
    return m_state == ECodedBody::Decoding ? taken : length;
}

bool CContentCodedBody::RunStage(std::size_t index, const std::uint8_t* data, std::size_t length,
                                 std::size_t& used)
{
    CStage& stage = m_stages[index];
    bool last = index + 1 == m_stages.size();
    if (stage.m_ended) {
        // What follows the end of a coding's stream is not read.
        used = length;
        return false;
    }
    std::uint8_t* out = nullptr;
    std::size_t room = 0;
    if (last) {
        out = reinterpret_cast<std::uint8_t*>(m_decoded.data()) + m_decodedLength;
        room = m_decoded.size() - m_decodedLength;
    } else {
        CStage& next = m_stages[index + 1];
        // The next stage's unread bytes move to the front to make room.
        if (next.m_inputAt > 0) {
            next.m_input.erase(next.m_input.begin(),
                               next.m_input.begin() + static_cast<std::ptrdiff_t>(next.m_inputAt));
            next.m_inputAt = 0;
        }
        std::size_t filled = next.m_input.size();
        next.m_input.resize(kStageBufferBytes);
        out = next.m_input.data() + filled;
        room = kStageBufferBytes - filled;
    }
    if (room == 0 && !last) {
        used = 0;
        return false;
    }

    const std::uint8_t* in = data;
    std::size_t inLeft = length;
    std::size_t roomLeft = room;
    EContentDecode result =
        room == 0 ? EContentDecode::More : stage.m_decoder->Decode(in, inLeft, out, roomLeft);
    used = length - inLeft;
    std::size_t produced = room - roomLeft;
    if (last)
        m_decodedLength += produced;
    else
        m_stages[index + 1].m_input.resize(kStageBufferBytes - roomLeft);

    if (result == EContentDecode::Error) {
        m_state = ECodedBody::Corrupt;
    } else if (result == EContentDecode::Capped) {
        m_state = ECodedBody::Capped;
    } else if (result == EContentDecode::End) {
        stage.m_ended = true;
        used = length;
        if (last)
            m_state = ECodedBody::Ended;
    }
    return used > 0 || produced > 0 || result != EContentDecode::More;
}

void CContentCodedBody::Release()
{
    m_stages.clear();
    m_stages.shrink_to_fit();
    if (m_state == ECodedBody::Corrupt || m_state == ECodedBody::Unknown ||
        m_state == ECodedBody::Capped) {
        m_decoded.clear();
        m_decoded.shrink_to_fit();
        m_decodedLength = 0;
    } else {
        // A block decoded past the limit is not the caller's.
        m_decodedLength = std::min(m_decodedLength, m_decodedLimit);
        m_decoded.resize(m_decodedLength);
        m_decoded.shrink_to_fit();
    }
}

} // namespace zk
