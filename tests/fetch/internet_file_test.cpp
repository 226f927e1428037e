#include "fetch/internet_exception.h"
#include "fetch/internet_file.h"
#include "fetch_test_env.h"
#include "platform/file_ops.h"
#include "platform/temp_file.h"
#include "support/raw_reply_server.h"

namespace zk {
namespace {

using test::CHttpScript;
using test::CRawReplyServer;

constexpr int kCurlPartialFile = 18;
constexpr int kCurlTimedOut = 28;

// An exchange driven call by call, as the HTTP request drives it, so that
// each step can be tried in the wrong phase as well as in the right one.
class HttpFilePhases : public test::CFetchTest
{
protected:
    HRESULT Open(std::uint16_t port, const std::wstring& object, CHttpLimits limits = Limits())
    {
        return m_file.Open(L"", L"127.0.0.1", port, L"GET", object, limits);
    }
    HRESULT Open(const std::wstring& object) { return Open(m_server.GetPort(), object); }

    static CHttpLimits Limits() { return CHttpLimits{10000, 0, 0, 10000, 1 << 20}; }

    // Reads the body into a fresh file; the bytes that reached it in data.
    HRESULT ReadBody(CBodyEnd& end, std::string& data)
    {
        std::wstring path = (m_temp.Path() / "body").wstring();
        std::filesystem::remove(path);
        EXPECT_TRUE(Succeeded(CreateFileExclusive(path)));
        COutputFile output;
        EXPECT_TRUE(Succeeded(output.Open(path)));
        HRESULT hr = m_file.ReadBody(output, 0, end);
        EXPECT_TRUE(Succeeded(output.Close()));
        data.clear();
        EXPECT_TRUE(Succeeded(ReadWholeFile(path, data)));
        return hr;
    }

    bool StatusThrows()
    {
        try {
            m_file.QueryInfoText(HTTP_QUERY_STATUS_CODE);
        } catch (const CInternetException& e) {
            EXPECT_EQ(e.m_operation, INTERNET_OP_QUERY_HEADER);
            return true;
        }
        return false;
    }

    // What a call that the phase does not allow must answer.
    void ExpectNoHeadersAndNoBody()
    {
        EXPECT_TRUE(StatusThrows());
        CBodyEnd end = CBodyEnd::Complete;
        std::string data;
        EXPECT_EQ(ReadBody(end, data), E_INVALIDARG);
        EXPECT_EQ(end, CBodyEnd::Failed);
        EXPECT_TRUE(data.empty());
    }

    CHttpFile m_file;
};

TEST_F(HttpFilePhases, EachCallWaitsForItsPhaseAndAClosedFileStartsAgain)
{
    m_server.SetScript("/a", CHttpScript::Status("HTTP/1.1 200 OK", "first"));
    EXPECT_EQ(m_file.AddHeaders(L"X-A: 1\r\n"), E_INVALIDARG);
    EXPECT_EQ(m_file.SendRequest({}, nullptr, 0), E_INVALIDARG);
    ExpectNoHeadersAndNoBody();

    ASSERT_EQ(Open(L"/a"), S_OK);
    ExpectNoHeadersAndNoBody();
    EXPECT_TRUE(m_server.GetRequests().empty());

    ASSERT_EQ(m_file.SendRequest({}, nullptr, 0), S_OK);
    // The request is on its way: nothing more may be added, nor sent again.
    EXPECT_EQ(m_file.AddHeaders(L"X-B: 2\r\n"), E_INVALIDARG);
    EXPECT_EQ(m_file.SendRequest({}, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(m_file.QueryInfoText(HTTP_QUERY_STATUS_CODE), L"200");
    CBodyEnd end = CBodyEnd::Failed;
    std::string data;
    EXPECT_EQ(ReadBody(end, data), S_OK);
    EXPECT_EQ(end, CBodyEnd::Complete);
    EXPECT_EQ(data, "first");
    EXPECT_EQ(m_server.GetRequests().size(), 1u);

    m_file.Close();
    ExpectNoHeadersAndNoBody();
    EXPECT_EQ(m_file.TimeLimit(), CTimeLimit::None);

    // The same object makes a second exchange from the start.
    m_server.SetScript("/b", CHttpScript::Status("HTTP/1.1 203 Fine", "second"));
    ASSERT_EQ(Open(L"/b"), S_OK);
    ASSERT_EQ(m_file.SendRequest({}, nullptr, 0), S_OK);
    EXPECT_EQ(m_file.QueryInfoText(HTTP_QUERY_STATUS_CODE), L"203");
    EXPECT_EQ(ReadBody(end, data), S_OK);
    EXPECT_EQ(data, "second");
}

TEST_F(HttpFilePhases, ARefusedStatusLineAnswersWithAnEmptyCodeAndNothingElse)
{
    CHttpScript odd = CHttpScript::Status("HTTP/1.1 2000 OK", "body");
    odd.headers.push_back("Last-Modified: Tue, 05 Mar 2024 07:08:09 GMT");
    m_server.SetScript("/odd", odd);
    ASSERT_EQ(Open(L"/odd"), S_OK);
    ASSERT_EQ(m_file.SendRequest({}, nullptr, 0), S_OK);
    EXPECT_EQ(m_file.QueryInfoText(HTTP_QUERY_STATUS_CODE), L"");
    SYSTEMTIME time{};
    EXPECT_THROW(m_file.QueryInfo(HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, time),
                 CInternetException);
    CBodyEnd end = CBodyEnd::Complete;
    std::string data;
    EXPECT_EQ(ReadBody(end, data), E_INVALIDARG);
    EXPECT_EQ(end, CBodyEnd::Failed);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(m_file.TimeLimit(), CTimeLimit::None);
}

TEST_F(HttpFilePhases, HeadersThatNeverEndFailTheSendAndAnswerNoQuery)
{
    // Cut off inside the header block, and a header block without end.
    CRawReplyServer cut("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "");
    CRawReplyServer endless("HTTP/1.1 200 OK\r\n", "X-Pad: 1\r\n");
    ASSERT_NE(cut.GetPort(), 0);
    ASSERT_NE(endless.GetPort(), 0);

    ASSERT_EQ(Open(cut.GetPort(), L"/a"), S_OK);
    HRESULT hr = m_file.SendRequest({}, nullptr, 0);
    EXPECT_TRUE(Failed(hr)) << std::hex << hr;
    ExpectNoHeadersAndNoBody();
    EXPECT_EQ(m_file.TimeLimit(), CTimeLimit::None);

    CHttpLimits limits = Limits();
    limits.deadlineMs = 1000;
    ASSERT_EQ(Open(endless.GetPort(), L"/a", limits), S_OK);
    EXPECT_EQ(m_file.SendRequest({}, nullptr, 0), HresultFromCurl(kCurlTimedOut));
    EXPECT_EQ(m_file.TimeLimit(), CTimeLimit::Deadline);
    ExpectNoHeadersAndNoBody();
}

TEST_F(HttpFilePhases, AnInterimAnswerIsNotTheEndOfTheHeaders)
{
    CRawReplyServer server("HTTP/1.1 100 Continue\r\n\r\n",
                           "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                           CRawReplyServer::CTail::Once);
    ASSERT_NE(server.GetPort(), 0);
    ASSERT_EQ(Open(server.GetPort(), L"/a"), S_OK);
    ASSERT_EQ(m_file.SendRequest({}, nullptr, 0), S_OK);
    EXPECT_EQ(m_file.QueryInfoText(HTTP_QUERY_STATUS_CODE), L"200");
    std::uint32_t length = 0;
    m_file.QueryInfo(HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length);
    EXPECT_EQ(length, 2u);
    CBodyEnd end = CBodyEnd::Failed;
    std::string data;
    EXPECT_EQ(ReadBody(end, data), S_OK);
    EXPECT_EQ(data, "ok");
}

// The transfer may end before the body is asked for (there is none) or while
// it is read (the server gives up); either way the headers stay readable
// and the end is told again rather than waited for.
TEST_F(HttpFilePhases, ATransferThatEndedKeepsItsHeadersAndItsOutcome)
{
    m_server.SetScript("/empty", CHttpScript::Status("HTTP/1.1 200 OK", ""));
    CHttpScript shortBody = CHttpScript::Status("HTTP/1.1 200 OK", std::string(100, 'x'));
    shortBody.declaredLength = 1000;
    m_server.SetScript("/short", shortBody);

    ASSERT_EQ(Open(L"/empty"), S_OK);
    ASSERT_EQ(m_file.SendRequest({}, nullptr, 0), S_OK);
    CBodyEnd end = CBodyEnd::Failed;
    std::string data;
    EXPECT_EQ(ReadBody(end, data), S_OK);
    EXPECT_EQ(end, CBodyEnd::Complete);
    EXPECT_TRUE(data.empty());

    ASSERT_EQ(Open(L"/short"), S_OK);
    ASSERT_EQ(m_file.SendRequest({}, nullptr, 0), S_OK);
    EXPECT_EQ(ReadBody(end, data), HresultFromCurl(kCurlPartialFile));
    EXPECT_EQ(end, CBodyEnd::Failed);
    EXPECT_EQ(data.size(), 100u);
    std::uint32_t length = 0;
    m_file.QueryInfo(HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length);
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(ReadBody(end, data), HresultFromCurl(kCurlPartialFile));
    EXPECT_EQ(end, CBodyEnd::Failed);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(m_file.TimeLimit(), CTimeLimit::None);
}

} // namespace
} // namespace zk
