#include "support/test_env.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace zk::test {

bool IsCi()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

std::string WhyNoRoot()
{
    if (geteuid() != 0)
        return "this test needs root (network namespaces and packet sockets)";
    return {};
}

CTempDir::CTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zk-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

CTempDir::~CTempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace zk::test
