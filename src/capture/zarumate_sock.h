#pragma once

#include "base/simple_err.h"
#include "base/thread.h"
#include "capture/http_cached_stream.h"
#include "capture/monitor_failure.h"
#include "capture/zarumate_sock_client.h"

#include <atomic>
#include <boost/regex.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// The capture thread: watches one adapter through the capture helper, runs
// every IPv4 and IPv6 TCP datagram through the decoding chain and reports
// each person found on a microblog page. The chain can also be fed without
// the thread (IpDatagramIn), as the probe does with capture files.
class CZarumateSock : public CThreadImpl<CZarumateSock>,
                      public CHttpCachedStream<CZarumateSock>,
                      public CHasErr<CSimpleErr>
{
public:
    CZarumateSock();

    int Run() override;

    void SetClient(CZarumateSockClient* client) { m_client = client; }
    void SetAdapterName(const std::wstring& name) { m_adapterName = name; }
    const std::wstring& GetAdapterName() const { return m_adapterName; }

    // Complete when OnSockStarted is called and after the thread has ended.
    int GetAdapterIndex() const { return m_adapterIndex; }
    int GetAdapterCount() const { return m_adapterCount; }
    const std::vector<std::wstring>& GetAdapterList() const { return m_adapterList; }

    // Sees every datagram the capture delivers, on the capture thread, just
    // before the decoding chain gets it; tests and the probe use it to watch
    // the capture itself. Set it before Start.
    using CDatagramTap = std::function<void(const std::uint8_t* data, std::size_t length)>;
    void SetDatagramTap(CDatagramTap tap) { m_datagramTap = std::move(tap); }

    // The capture helper to start; by default the one beside this program,
    // else the installed one. Set it before Start.
    void SetCaptureHelperPath(const std::string& path) { m_helperPath = path; }

    // Datagrams the kernel dropped because the capture fell behind and its
    // ring was full, in the current or last run. Safe to read from any
    // thread.
    std::uint64_t GetKernelDrops() const { return m_kernelDrops.load(); }

    // The detail text of a socket error in the capture's messages.
    static std::wstring GetSocketErrorText(int err);

    // Why the current or last run ended with an error; None without one.
    EMonitorFailure GetFailureCause() const { return m_failureCause; }
    // The cause of a socket error in a step of the run (a message id of
    // the capture's messages).
    static EMonitorFailure ClassifyFailure(std::uint32_t messageId, int err);

    // The page handler, called by the HTTP layer for every response whose
    // body has started: true while it wants more bytes. A body sent with a
    // content coding is decoded into coded, which the HTTP layer keeps with
    // the response; the form without it decodes such a body afresh.
    bool OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                        std::size_t length, CContentCodedBody& coded);
    bool OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                        std::size_t length);

    // Scrapes id and nickname from a page's text and reports the person:
    // true when the page is decided, with the person reported or with an id
    // refused for a control character in it (counted in the statistics).
    // The nickname's character references are decoded, and control
    // characters in it replaced.
    bool Scan(const std::wstring& text);

private:
    // Prepares the marker and both patterns of the page handler.
    void PreparePageHandler();
    // The page rules on the body as received, and on the decoded bytes of a
    // body sent with a content coding (ended: no more will come).
    bool OnPlainBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                     std::size_t length);
    bool OnDecodedBody(std::string_view decoded, std::size_t newBytes, bool ended);
    bool IsPageTop(std::string_view top) const;
    void CaptureRun();
    void Fail(std::uint32_t messageId, int err);
    // The message of a helper that could not be started, or that ended by
    // itself.
    void SetStartError(int err, const std::string& path);
    void SetHelperEndError(int status, int err);
    friend class CHelperOutput;

    CZarumateSockClient* m_client = nullptr;
    std::wstring m_adapterName;
    int m_adapterIndex = 0;
    int m_adapterCount = -1;
    EMonitorFailure m_failureCause = EMonitorFailure::None;
    std::vector<std::wstring> m_adapterList;

    std::string m_helperPath;
    CDatagramTap m_datagramTap;
    std::atomic<std::uint64_t> m_kernelDrops{0};

    std::string m_marker;
    boost::wregex m_idPattern;
    boost::wregex m_namePattern;
};

} // namespace zk
