#pragma once

#include <string>

namespace zk::test {

// Bodies in the content codings the page handler undoes, made with the same
// libraries' encoders, for tests and capture files.
enum class CTestCoding
{
    Gzip,
    Zlib,       // deflate in the zlib format
    RawDeflate, // deflate without the zlib wrapper, as some servers send it
    Brotli,
    Zstd,
};

std::string Encode(CTestCoding coding, const std::string& data);

// zstd data whose frame names a window of 2^windowLog bytes, at a level
// (3 is the library's default, what servers mostly use).
std::string EncodeZstdWithWindow(const std::string& data, int windowLog, int level = 3);

// brotli data in the large-window format, which HTTP does not allow.
std::string EncodeBrotliLargeWindow(const std::string& data);

// The Content-Encoding name of a coding.
const char* CodingName(CTestCoding coding);

} // namespace zk::test
