// The HTTP/2 frame reader on frames fed whole, a byte at a time and split
// at every offset.

#include "capture/http2_frame_reader.h"
#include "support/http2_frames.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace zk {
namespace {

using test::Bytes;
using test::CHttp2ServerFrames;
using test::Http2Frame;

constexpr std::size_t kMaxFrameBytes = 1 << 20;
constexpr std::size_t kMaxBlockBytes = 4096;

// What the reader reported, as text: DATA of one stream run together, so
// that any way of cutting the input reads the same.
struct CTranscript
{
    std::string m_text;
    bool m_failed = false;

    void Add(EHttp2Event kind, const CHttp2Event& event)
    {
        std::string id = std::to_string(event.m_streamId);
        switch (kind) {
        case EHttp2Event::HeaderBlock:
            m_text += (event.m_promise ? "promise " : "headers ") + id +
                      (event.m_endStream ? " end" : "") + " [" +
                      std::string(reinterpret_cast<const char*>(event.m_data), event.m_length) +
                      "]\n";
            break;
        case EHttp2Event::Data: {
            std::string prefix = "data " + id + " ";
            if (m_text.size() < prefix.size() || m_lastData != id)
                m_text += prefix;
            else
                m_text.pop_back(); // the newline: the run goes on
            m_text.append(reinterpret_cast<const char*>(event.m_data), event.m_length);
            m_text += "\n";
            m_lastData = id;
            return;
        }
        case EHttp2Event::StreamEnd:
            m_text += "end " + id + "\n";
            break;
        case EHttp2Event::Reset:
            m_text += "reset " + id + " " + std::to_string(event.m_errorCode) + "\n";
            break;
        case EHttp2Event::GoAway:
            m_text += "goaway " + std::to_string(event.m_lastStreamId) + "\n";
            break;
        case EHttp2Event::Error:
            m_failed = true;
            break;
        case EHttp2Event::NeedMore:
            break;
        }
        m_lastData.clear();
    }

    std::string m_lastData;
};

// Feeds the input in pieces ending at the given offsets (the last piece
// runs to the end), each piece in an allocation of its own exact size.
CTranscript Read(CHttp2FrameReader& reader, const Bytes& input, std::vector<std::size_t> cuts)
{
    CTranscript transcript;
    cuts.push_back(input.size());
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        std::size_t size = cut - from;
        auto piece = std::make_unique<std::uint8_t[]>(size ? size : 1);
        std::copy(input.begin() + from, input.begin() + cut, piece.get());
        const std::uint8_t* data = piece.get();
        std::size_t length = size;
        for (;;) {
            CHttp2Event event;
            EHttp2Event kind = reader.Read(data, length, event);
            if (kind == EHttp2Event::NeedMore)
                break;
            transcript.Add(kind, event);
            if (kind == EHttp2Event::Error)
                return transcript;
        }
        EXPECT_EQ(length, 0u);
        from = cut;
    }
    return transcript;
}

CTranscript ReadWhole(const Bytes& input, bool& idle)
{
    CHttp2FrameReader reader(kMaxFrameBytes, kMaxBlockBytes);
    CTranscript transcript = Read(reader, input, {});
    idle = reader.IsIdle();
    return transcript;
}

// Reads the input whole, byte by byte and split in two at every offset, and
// expects the same transcript every time, with the reader idle at the end.
void ExpectReadsAlike(const Bytes& input, const std::string& expected)
{
    bool idle = false;
    CTranscript whole = ReadWhole(input, idle);
    EXPECT_FALSE(whole.m_failed);
    EXPECT_EQ(whole.m_text, expected);
    EXPECT_TRUE(idle);

    CHttp2FrameReader bytewise(kMaxFrameBytes, kMaxBlockBytes);
    std::vector<std::size_t> every;
    for (std::size_t at = 1; at < input.size(); ++at)
        every.push_back(at);
    CTranscript bytes = Read(bytewise, input, every);
    EXPECT_EQ(bytes.m_text, expected) << "byte by byte";
    EXPECT_TRUE(bytewise.IsIdle());

    for (std::size_t at = 0; at <= input.size(); ++at) {
        CHttp2FrameReader split(kMaxFrameBytes, kMaxBlockBytes);
        CTranscript two = Read(split, input, {at});
        EXPECT_EQ(two.m_text, expected) << "split at " << at;
        EXPECT_TRUE(split.IsIdle()) << "split at " << at;
    }
}

// Expects the reader to fail on the input, however it is cut.
void ExpectFails(const Bytes& input, std::size_t maxBlockBytes = kMaxBlockBytes)
{
    CHttp2FrameReader whole(kMaxFrameBytes, maxBlockBytes);
    EXPECT_TRUE(Read(whole, input, {}).m_failed);
    CHttp2FrameReader bytewise(kMaxFrameBytes, maxBlockBytes);
    std::vector<std::size_t> every;
    for (std::size_t at = 1; at < input.size(); ++at)
        every.push_back(at);
    EXPECT_TRUE(Read(bytewise, input, every).m_failed);
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& text)
{
    return test::ToBytes(text);
}

constexpr std::uint8_t kPadded = CHttp2FrameReader::kFlagPadded;
constexpr std::uint8_t kEndHeaders = CHttp2FrameReader::kFlagEndHeaders;
constexpr std::uint8_t kEndStream = CHttp2FrameReader::kFlagEndStream;

TEST(Http2FrameReader, ReadsHeaderBlocksWithPaddingPriorityAndContinuation)
{
    Bytes padded = Join({{3}, Text("block"), {0, 0, 0}});
    Bytes priority = Join({{0x80, 0, 0, 1, 16}, Text("prio")});
    Bytes both = Join({{2, 0, 0, 0, 3, 200}, Text("pp"), {0, 0}});
    Bytes input = Join({
        CHttp2ServerFrames::Preface(),
        Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders | kPadded, 1, padded),
        Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders | CHttp2FrameReader::kFlagPriority, 3,
                   priority),
        Http2Frame(CHttp2FrameReader::kHeaders,
                   kEndHeaders | kPadded | CHttp2FrameReader::kFlagPriority | kEndStream, 5, both),
        // A block in three frames; the empty CONTINUATION adds nothing.
        Http2Frame(CHttp2FrameReader::kHeaders, kPadded, 7, Join({{1}, Text("con"), {0}})),
        Http2Frame(CHttp2FrameReader::kContinuation, 0, 7, {}),
        Http2Frame(CHttp2FrameReader::kContinuation, kEndHeaders, 7, Text("tinued")),
        Http2Frame(CHttp2FrameReader::kPushPromise, kEndHeaders | kPadded, 7,
                   Join({{1, 0, 0, 0, 2}, Text("req"), {0}})),
    });
    ExpectReadsAlike(input, "headers 1 [block]\n"
                            "headers 3 [prio]\n"
                            "headers 5 end [pp]\n"
                            "headers 7 [continued]\n"
                            "promise 7 [req]\n");
}

// A fresh reader's first block frame may be empty: it still ends a block,
// an empty one, and so may a padded one whose padding is all it holds.
TEST(Http2FrameReader, ReadsEmptyHeaderBlocks)
{
    Bytes input = Join({
        Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders | kEndStream, 1, {}),
        Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders | kPadded, 3, {2, 0, 0}),
    });
    ExpectReadsAlike(input, "headers 1 end []\n"
                            "headers 3 []\n");
}

TEST(Http2FrameReader, StreamsDataWithoutPaddingAndEndsStreams)
{
    Bytes input = Join({
        Http2Frame(CHttp2FrameReader::kData, 0, 1, Text("first ")),
        Http2Frame(CHttp2FrameReader::kData, kPadded, 3, Join({{4}, Text("other"), {0, 0, 0, 0}})),
        Http2Frame(CHttp2FrameReader::kData, kPadded | kEndStream, 1,
                   Join({{2}, Text("second"), {0, 0}})),
        // Only padding, and an empty last frame.
        Http2Frame(CHttp2FrameReader::kData, kPadded, 3, {3, 0, 0, 0}),
        Http2Frame(CHttp2FrameReader::kData, kEndStream, 3, {}),
    });
    ExpectReadsAlike(input, "data 1 first \n"
                            "data 3 other\n"
                            "data 1 second\n"
                            "end 1\n"
                            "end 3\n");
}

TEST(Http2FrameReader, ReportsResetsAndGoAwayAndSkipsOtherFrames)
{
    Bytes input = Join({
        CHttp2ServerFrames::Preface(),
        Http2Frame(CHttp2FrameReader::kSettings, CHttp2FrameReader::kFlagAck, 0, {}),
        Http2Frame(0x8, 0, 0, {0, 0, 0x40, 0}),       // WINDOW_UPDATE
        Http2Frame(0x6, 0, 0, Bytes(8, 7)),           // PING
        Http2Frame(0x2, 0, 9, {0, 0, 0, 0, 1}),       // PRIORITY
        Http2Frame(0xFA, 0xFF, 11, Bytes(300, 0xAB)), // an unknown type
        CHttp2ServerFrames::RstStream(3),
        CHttp2ServerFrames::GoAway(5),
    });
    ExpectReadsAlike(input, "reset 3 8\ngoaway 5\n");
}

TEST(Http2FrameReader, BrokenFramingIsAnErrorAndNothingIsReadAfterIt)
{
    Bytes headers = Http2Frame(CHttp2FrameReader::kHeaders, 0, 1, Text("a"));
    // A frame longer than the bound.
    Bytes tooLong = Http2Frame(0xFA, 0, 1, {});
    tooLong[0] = 0x10;
    tooLong[1] = 0x00;
    tooLong[2] = 0x01;
    ExpectFails(tooLong);
    // A header block interrupted, or continued on another stream.
    ExpectFails(Join({headers, Http2Frame(CHttp2FrameReader::kData, 0, 1, Text("x"))}));
    ExpectFails(Join({headers, Http2Frame(CHttp2FrameReader::kContinuation, kEndHeaders, 3, {})}));
    ExpectFails(Http2Frame(CHttp2FrameReader::kContinuation, kEndHeaders, 1, {}));
    // Padding longer than its frame.
    ExpectFails(Http2Frame(CHttp2FrameReader::kData, kPadded, 1, {5, 'a'}));
    ExpectFails(Http2Frame(CHttp2FrameReader::kData, kPadded, 1, {}));
    ExpectFails(Http2Frame(CHttp2FrameReader::kHeaders, kPadded | kEndHeaders, 1, {2, 'a'}));
    // Frames on streams they cannot be on, or of the wrong size.
    ExpectFails(Http2Frame(CHttp2FrameReader::kData, 0, 0, Text("x")));
    ExpectFails(Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders, 0, Text("x")));
    ExpectFails(Http2Frame(CHttp2FrameReader::kSettings, 0, 1, {}));
    ExpectFails(Http2Frame(CHttp2FrameReader::kSettings, 0, 0, {1, 2, 3}));
    ExpectFails(Http2Frame(CHttp2FrameReader::kRstStream, 0, 1, {0, 0, 0}));
    ExpectFails(Http2Frame(CHttp2FrameReader::kGoAway, 0, 0, {0, 0, 0, 1}));
    // A header block beyond its bound, over one frame or several.
    ExpectFails(Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders, 1, Bytes(101, 'h')), 100);
    ExpectFails(
        Join({Http2Frame(CHttp2FrameReader::kHeaders, 0, 1, Bytes(60, 'h')),
              Http2Frame(CHttp2FrameReader::kContinuation, kEndHeaders, 1, Bytes(60, 'h'))}),
        100);

    // Good frames after the error are not read.
    CHttp2FrameReader reader(kMaxFrameBytes, kMaxBlockBytes);
    Bytes input = Join({Http2Frame(CHttp2FrameReader::kData, 0, 0, Text("x")),
                        Http2Frame(CHttp2FrameReader::kData, 0, 1, Text("y"))});
    EXPECT_TRUE(Read(reader, input, {}).m_failed);
    CTranscript after = Read(reader, Http2Frame(CHttp2FrameReader::kData, 0, 1, Text("z")), {});
    EXPECT_TRUE(after.m_failed);
    EXPECT_EQ(after.m_text, "");
    EXPECT_EQ(reader.MemoryBytes(), 0u);
}

TEST(Http2FrameReader, AFrameCutShortLeavesTheReaderBusy)
{
    Bytes frame = Http2Frame(CHttp2FrameReader::kHeaders, kEndHeaders, 1, Text("abc"));
    for (std::size_t size = 1; size < frame.size(); ++size) {
        CHttp2FrameReader reader(kMaxFrameBytes, kMaxBlockBytes);
        CTranscript transcript = Read(reader, Bytes(frame.begin(), frame.begin() + size), {});
        EXPECT_EQ(transcript.m_text, "");
        EXPECT_FALSE(reader.IsIdle()) << size;
    }
}

} // namespace
} // namespace zk
