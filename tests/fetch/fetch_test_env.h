#pragma once

#include "fetch/http_request.h"
#include "platform/browser_cache.h"
#include "support/http_test_server.h"
#include "support/test_env.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace zk::test {

// Every fetch test runs against its own loopback server, with its own
// temporary folder, and with no proxy from the environment in the way.
class CFetchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        m_savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        m_hadTmp = std::getenv("TMPDIR") != nullptr;
        setenv("TMPDIR", m_temp.Path().c_str(), 1);
        ASSERT_TRUE(m_server.Start());
        SetHttpPortForTesting(m_server.GetPort());
    }

    void TearDown() override
    {
        SetHttpPortForTesting(0);
        SetBrowserCacheFolder({});
        m_server.Stop();
        if (m_hadTmp)
            setenv("TMPDIR", m_savedTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    // The download's files in the temporary folder.
    std::vector<std::filesystem::path> TempFiles() const
    {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_temp.Path()))
            if (entry.path().filename().string().rfind("BRS_", 0) == 0)
                files.push_back(entry.path());
        return files;
    }

    CTempDir m_temp;
    CHttpTestServer m_server;

private:
    std::string m_savedTmp;
    bool m_hadTmp = false;
};

// A progress sink that records its reports and refuses once told to.
class CRecordingSink : public IBindStatusCallback
{
public:
    HRESULT GetBindInfo(std::uint32_t& flags) override
    {
        flags = 0;
        return S_OK;
    }
    HRESULT OnProgress(std::uint32_t, std::uint32_t, std::uint32_t status,
                       std::wstring_view) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_statuses.push_back(status);
        return m_cancel.load() ? E_ABORT : S_OK;
    }
    void Cancel() { m_cancel.store(true); }
    std::vector<std::uint32_t> Statuses()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_statuses;
    }

private:
    std::mutex m_lock;
    std::atomic<bool> m_cancel{false};
    std::vector<std::uint32_t> m_statuses;
};

} // namespace zk::test
