#include "fetch/internet_connection.h"

#include "fetch/internet_exception.h"
#include "fetch/internet_session.h"
#include "platform/text_convert.h"

namespace zk {
namespace {

constexpr std::uint16_t kDefaultHttpPort = 80;

// What a connection handle stands for.
struct CConnectionTarget
{
    std::string server;
    std::uint16_t port = 0;
    std::string userName;
    std::string password;
    std::uint32_t service = 0;
};

const CConnectionTarget& Target(void* handle)
{
    static const CConnectionTarget kNone;
    return handle ? *static_cast<const CConnectionTarget*>(handle) : kNone;
}

std::string Narrow(const wchar_t* text)
{
    return text ? WideToUtf8(text) : std::string();
}

} // namespace

CInternetConnection::~CInternetConnection()
{
    Close();
}

HRESULT CInternetConnection::Connect(CInternetSession* session, const wchar_t* server,
                                     std::uint16_t port, const wchar_t* userName,
                                     const wchar_t* password, std::uint32_t service, std::uint32_t)
{
    if (!Close())
        return E_FAIL;
    if (session && session->GetStatusCallback())
        session->GetStatusCallback()->Reset();
    if (!session || !session->IsOpen() || !server || !*server)
        throw CInternetException(session ? session->GetHandle() : nullptr, INTERNET_OP_CONNECT,
                                 E_INVALIDARG);

    auto* target = new CConnectionTarget;
    target->server = WideToUtf8(server);
    target->port = port != 0 ? port : kDefaultHttpPort;
    target->userName = Narrow(userName);
    target->password = Narrow(password);
    target->service = service;
    m_handle = target;
    m_session = session;
    void* created = m_handle;
    session->Notify(session->GetHandle(), INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
    return S_OK;
}

bool CInternetConnection::Close()
{
    if (m_session && m_session->GetStatusCallback())
        m_session->GetStatusCallback()->Reset();
    delete static_cast<CConnectionTarget*>(m_handle);
    m_handle = nullptr;
    return true;
}

const std::string& CInternetConnection::GetServer() const
{
    return Target(m_handle).server;
}

std::uint16_t CInternetConnection::GetPort() const
{
    return Target(m_handle).port;
}

const std::string& CInternetConnection::GetUserName() const
{
    return Target(m_handle).userName;
}

const std::string& CInternetConnection::GetPassword() const
{
    return Target(m_handle).password;
}

} // namespace zk
