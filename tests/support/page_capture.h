#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zk::test {

// Writes a raw-IP capture of one microblog page load per person (id, UTF-8
// nickname), in the given order: handshake, request, the chunked page in
// full-size segments, and the client's FIN.
bool WritePageCapture(const std::filesystem::path& path,
                      const std::vector<std::pair<std::string, std::string>>& persons);

} // namespace zk::test
