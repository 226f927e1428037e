// The capture helper's pcapng writer into a pipe, whose reader is slow or
// goes away, and into a file; what it wrote is read back with the program's
// own reader.

#include "capture/pcapng_writer.h"
#include "platform/pcapng_reader.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zk {
namespace {

using namespace std::chrono_literals;

// Only a hang takes this long, however busy the machine.
constexpr auto kPatience = 30s;
// Larger than the writer copies, so that it splices the bytes from where
// they lie.
constexpr std::size_t kLargeBytes = 60000;

struct CRecorder : CPcapngReader::CHandler
{
    int interfaces = 0;
    std::vector<std::string> datagrams;
    void OnInterface() override { ++interfaces; }
    void OnDatagram(const std::uint8_t* data, std::size_t length) override
    {
        datagrams.emplace_back(reinterpret_cast<const char*>(data), length);
    }
    void OnDrops(std::uint64_t) override {}
};

CRecorder ReadBack(const std::string& stream)
{
    CRecorder recorder;
    CPcapngReader reader;
    EXPECT_TRUE(
        reader.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(), recorder));
    EXPECT_FALSE(reader.HasPartialBlock());
    return recorder;
}

// Everything a pipe's reader gets, after a pause in which the writer has
// long handed over its first blocks.
class CSlowReader
{
public:
    explicit CSlowReader(int fd)
        : m_thread([this, fd] {
              std::this_thread::sleep_for(50ms);
              char buffer[4096];
              for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
                  m_got.append(buffer, static_cast<std::size_t>(got));
              close(fd);
          })
    {}
    std::string Finish()
    {
        m_thread.join();
        return m_got;
    }

private:
    std::string m_got;
    std::thread m_thread;
};

// A pipe of the size the helper gives its output.
struct CPipe
{
    int read = -1;
    int write = -1;
    CPipe()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
            fcntl(write, F_SETPIPE_SZ, 1024 * 1024);
        }
    }
};

TEST(PcapngWriterPipe, TheReaderGetsTheBytesAsTheyWereAtFlushThoughTheyChangeRightAfter)
{
    CPipe pipe;
    ASSERT_GE(pipe.read, 0);
    CSlowReader reader(pipe.read);
    std::vector<std::uint8_t> ring(kLargeBytes, 'a');
    {
        CPcapngWriter writer(pipe.write);
        writer.AddHeader("zkcap0");
        writer.AddDatagram(1, ring.data(), ring.size());
        ASSERT_EQ(writer.Flush(), 0);
        // The ring block goes back to the kernel, which fills it anew; the
        // writer's own memory takes the next block.
        std::fill(ring.begin(), ring.end(), 'b');
        const std::uint8_t small[] = {'s', 'm', 'a', 'l', 'l'};
        writer.AddDatagram(2, small, sizeof small);
        writer.AddDatagram(3, ring.data(), ring.size());
        ASSERT_EQ(writer.Flush(), 0);
        std::fill(ring.begin(), ring.end(), 'c');
    }
    close(pipe.write);
    CRecorder back = ReadBack(reader.Finish());
    EXPECT_EQ(back.interfaces, 1);
    ASSERT_EQ(back.datagrams.size(), 3u);
    EXPECT_EQ(back.datagrams[0], std::string(kLargeBytes, 'a'));
    EXPECT_EQ(back.datagrams[1], "small");
    EXPECT_EQ(back.datagrams[2], std::string(kLargeBytes, 'b'));
}

// The reader closes the pipe without reading what was handed over: the
// writer's wait for it to be taken ends, as a write to it would.
TEST(PcapngWriterPipe, AReaderThatGoesAwayWithoutReadingEndsTheFlushWithEpipe)
{
    CPipe pipe;
    ASSERT_GE(pipe.read, 0);
    auto* previous = std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::uint8_t> ring(kLargeBytes, 'a');
    std::atomic<bool> done{false};
    int err = -1;
    std::thread flushing([&] {
        CPcapngWriter writer(pipe.write);
        writer.AddHeader("zkcap0");
        writer.AddDatagram(1, ring.data(), ring.size());
        err = writer.Flush();
        done = true;
    });
    std::this_thread::sleep_for(50ms);
    close(pipe.read);
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    // A writer that waits on for good is freed, to fail the test and not hang it.
    if (!done)
        close(pipe.write);
    flushing.join();
    EXPECT_EQ(err, EPIPE);
    if (done)
        close(pipe.write);
    std::signal(SIGPIPE, previous);
}

// Output to a file, where nothing can be spliced, is written as it stands.
TEST(PcapngWriterFile, WritesTheSameStreamToAFile)
{
    char path[] = "/tmp/zk-writer-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    std::vector<std::uint8_t> ring(kLargeBytes, 'a');
    CPcapngWriter writer(fd);
    writer.AddHeader("zkcap0");
    writer.AddDatagram(1, ring.data(), ring.size());
    writer.AddDrops(2, 7);
    ASSERT_EQ(writer.Flush(), 0);
    std::fill(ring.begin(), ring.end(), 'b');
    writer.AddDatagram(3, ring.data(), 100);
    ASSERT_EQ(writer.Flush(), 0);

    std::string stream;
    char buffer[4096];
    for (ssize_t got;
         (got = pread(fd, buffer, sizeof buffer, static_cast<off_t>(stream.size()))) > 0;)
        stream.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    CRecorder back = ReadBack(stream);
    ASSERT_EQ(back.datagrams.size(), 2u);
    EXPECT_EQ(back.datagrams[0], std::string(kLargeBytes, 'a'));
    EXPECT_EQ(back.datagrams[1], std::string(100, 'b'));
}

} // namespace
} // namespace zk
