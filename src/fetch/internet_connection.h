#pragma once

#include "fetch/internet_handle.h"
#include "platform/result_code.h"

#include <cstdint>
#include <string>

namespace zk {

class CInternetSession;

// Services a connection can be for.
constexpr std::uint32_t INTERNET_SERVICE_HTTP = 3;

// The server side of a session: host, port and credentials. Nothing goes on
// the wire until a request is sent; the connection itself is made per
// request, which is also when a failure to connect shows.
class CInternetConnection : public CInternetHandle
{
public:
    ~CInternetConnection() override;

    // Throws CInternetException (connect) for a session that is not open or
    // an empty server name.
    HRESULT Connect(CInternetSession* session, const wchar_t* server, std::uint16_t port,
                    const wchar_t* userName, const wchar_t* password, std::uint32_t service,
                    std::uint32_t flags);
    bool Close() override;

    CInternetSession* GetSession() const { return m_session; }
    const std::string& GetServer() const;
    std::uint16_t GetPort() const;
    const std::string& GetUserName() const;
    const std::string& GetPassword() const;

protected:
    CInternetSession* m_session = nullptr; // not owned
};

class CHttpConnection : public CInternetConnection
{};

} // namespace zk
