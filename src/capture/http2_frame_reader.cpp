#include "capture/http2_frame_reader.h"

#include <algorithm>
#include <cstring>

namespace zk {
namespace {

std::uint32_t Read24(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

// A stream identifier without its reserved bit (RFC 9113, section 4.1).
std::uint32_t Read31(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
            p[3]) &
           0x7FFFFFFFu;
}

std::uint32_t Read32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace

bool CHttp2FrameReader::IsIdle() const
{
    return m_part == EPart::FrameHeader && m_headerHave == 0 && !m_continuationDue;
}

EHttp2Event CHttp2FrameReader::Fail()
{
    m_part = EPart::Broken;
    m_block = {};
    return EHttp2Event::Error;
}

// Checks the frame header just read against what may come now and sets up
// the reading of its payload.
bool CHttp2FrameReader::StartFrame()
{
    m_left = Read24(m_header.data());
    m_type = m_header[3];
    m_flags = m_header[4];
    m_streamId = Read31(m_header.data() + 5);
    if (m_left > m_maxFrameBytes)
        return false;
    // A header block is one run of frames: nothing may come between a
    // HEADERS or PUSH_PROMISE without END_HEADERS and its CONTINUATION
    // frames (section 6.10).
    if (m_continuationDue != (m_type == kContinuation))
        return false;
    if (m_continuationDue && m_streamId != m_blockStreamId)
        return false;
    switch (m_type) {
    case kData:
        if (m_streamId == 0)
            return false;
        m_part = (m_flags & kFlagPadded) ? EPart::DataPadLength : EPart::Data;
        m_dataLeft = m_left;
        return true;
    case kHeaders:
    case kPushPromise:
        if (m_streamId == 0)
            return false;
        m_blockStreamId = m_streamId;
        m_blockEndStream = m_type == kHeaders && (m_flags & kFlagEndStream);
        m_blockPromise = m_type == kPushPromise;
        m_frameStart = 0;
        m_part = EPart::Block;
        return true;
    case kContinuation:
        m_frameStart = m_block.size();
        m_part = EPart::Block;
        return true;
    case kRstStream:
        if (m_streamId == 0 || m_left != 4)
            return false;
        m_controlHave = 0;
        m_part = EPart::Control;
        return true;
    case kGoAway:
        if (m_streamId != 0 || m_left < 8)
            return false;
        m_controlHave = 0;
        m_part = EPart::Control;
        return true;
    case kSettings:
        // Nothing in the server's SETTINGS changes how its frames are read,
        // but a malformed one says the bytes are not HTTP/2 (section 6.5).
        if (m_streamId != 0 || m_left % 6 != 0 || ((m_flags & kFlagAck) && m_left != 0))
            return false;
        m_part = EPart::Skip;
        return true;
    default:
        m_part = EPart::Skip;
        return true;
    }
}

// The payload of a HEADERS, PUSH_PROMISE or CONTINUATION frame is all in
// m_block from m_frameStart: keeps only its fragment, and completes the
// block at END_HEADERS.
bool CHttp2FrameReader::FinishBlockFrame(CHttp2Event& event, bool& complete)
{
    std::size_t payload = m_block.size() - m_frameStart;
    std::uint8_t* at = m_block.data() + m_frameStart;
    std::size_t lead = 0;
    std::size_t padding = 0;
    if (m_type != kContinuation) {
        if (m_flags & kFlagPadded) {
            if (payload < 1)
                return false;
            padding = at[0];
            lead = 1;
        }
        if (m_type == kHeaders && (m_flags & kFlagPriority))
            lead += 5; // stream dependency and weight
        if (m_type == kPushPromise)
            lead += 4; // the promised stream
    }
    if (lead > payload || padding > payload - lead)
        return false;
    std::size_t fragment = payload - lead - padding;
    // An empty first frame leaves m_block without storage, and memmove may
    // not be given a null pointer even for no bytes.
    if (lead != 0 && fragment != 0)
        std::memmove(at, at + lead, fragment);
    m_block.resize(m_frameStart + fragment);

    complete = (m_flags & kFlagEndHeaders) != 0;
    m_continuationDue = !complete;
    if (complete) {
        event.m_streamId = m_blockStreamId;
        event.m_data = m_block.data();
        event.m_length = m_block.size();
        event.m_endStream = m_blockEndStream;
        event.m_promise = m_blockPromise;
        m_blockHandedOut = true;
    }
    return true;
}

std::size_t CHttp2FrameReader::TakePayload(const std::uint8_t*& data, std::size_t& length,
                                           std::size_t most)
{
    std::size_t take = std::min(most, length);
    data += take;
    length -= take;
    m_left -= take;
    return take;
}

EHttp2Event CHttp2FrameReader::Read(const std::uint8_t*& data, std::size_t& length,
                                    CHttp2Event& event)
{
    if (m_blockHandedOut) {
        m_block.clear();
        m_blockHandedOut = false;
    }
    for (;;) {
        switch (m_part) {
        case EPart::Broken:
            data += length;
            length = 0;
            return EHttp2Event::Error;

        case EPart::FrameHeader: {
            if (length == 0)
                return EHttp2Event::NeedMore;
            std::size_t take = std::min(kFrameHeaderBytes - m_headerHave, length);
            std::memcpy(m_header.data() + m_headerHave, data, take);
            m_headerHave += take;
            data += take;
            length -= take;
            if (m_headerHave < kFrameHeaderBytes)
                return EHttp2Event::NeedMore;
            m_headerHave = 0;
            if (!StartFrame())
                return Fail();
            break;
        }

        case EPart::DataPadLength: {
            if (m_left == 0)
                return Fail();
            if (length == 0)
                return EHttp2Event::NeedMore;
            std::size_t padding = *data;
            ++data;
            --length;
            --m_left;
            if (padding > m_left)
                return Fail();
            m_dataLeft = m_left - padding;
            m_part = EPart::Data;
            break;
        }

        case EPart::Data:
            if (m_dataLeft > 0) {
                if (length == 0)
                    return EHttp2Event::NeedMore;
                event.m_streamId = m_streamId;
                event.m_data = data;
                event.m_length = TakePayload(data, length, m_dataLeft);
                m_dataLeft -= event.m_length;
                return EHttp2Event::Data;
            }
            if (m_left > 0) {
                if (length == 0)
                    return EHttp2Event::NeedMore;
                TakePayload(data, length, m_left);
                if (m_left > 0)
                    return EHttp2Event::NeedMore;
            }
            m_part = EPart::FrameHeader;
            if (m_flags & kFlagEndStream) {
                event.m_streamId = m_streamId;
                return EHttp2Event::StreamEnd;
            }
            break;

        case EPart::Block: {
            if (std::min(m_left, length) > m_maxHeaderBlockBytes - m_block.size())
                return Fail();
            const std::uint8_t* piece = data;
            m_block.insert(m_block.end(), piece, piece + TakePayload(data, length, m_left));
            if (m_left > 0)
                return EHttp2Event::NeedMore;
            m_part = EPart::FrameHeader;
            bool complete = false;
            if (!FinishBlockFrame(event, complete))
                return Fail();
            if (complete)
                return EHttp2Event::HeaderBlock;
            break;
        }

        case EPart::Control: {
            const std::uint8_t* piece = data;
            std::size_t keep =
                std::min(TakePayload(data, length, m_left), m_control.size() - m_controlHave);
            std::memcpy(m_control.data() + m_controlHave, piece, keep);
            m_controlHave += keep;
            if (m_left > 0)
                return EHttp2Event::NeedMore;
            m_part = EPart::FrameHeader;
            if (m_type == kRstStream) {
                event.m_streamId = m_streamId;
                event.m_errorCode = Read32(m_control.data());
                return EHttp2Event::Reset;
            }
            event.m_lastStreamId = Read31(m_control.data());
            event.m_errorCode = Read32(m_control.data() + 4);
            return EHttp2Event::GoAway;
        }

        case EPart::Skip: {
            TakePayload(data, length, m_left);
            if (m_left > 0)
                return EHttp2Event::NeedMore;
            m_part = EPart::FrameHeader;
            break;
        }
        }
    }
}

} // namespace zk
