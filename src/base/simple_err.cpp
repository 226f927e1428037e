#include "base/simple_err.h"

#include "base/message_format.h"
#include "res/string_table.h"

namespace zk {
namespace {

std::wstring Format(std::uint32_t id, std::initializer_list<CFormatArg> args)
{
    return FormatStringMessage(id, args, CSimpleErr::kFormatSlack);
}

} // namespace

void CSimpleErr::SetErr(std::uint32_t id)
{
    m_id = id;
    m_result = 0;
    m_text = LoadString(id);
}

void CSimpleErr::SetErr(std::uint32_t id, HRESULT result)
{
    m_id = id;
    m_result = result;
    std::wstring system = GetSystemText(result);
    m_text = Format(id, {std::wstring_view(system)});
}

void CSimpleErr::SetErr(std::uint32_t id, std::wstring_view detail)
{
    m_id = id;
    m_result = 0;
    m_text = Format(id, {detail});
}

void CSimpleErr::SetErr(std::uint32_t id, HRESULT result, std::wstring_view extra)
{
    m_id = id;
    m_result = result;
    std::wstring system = GetSystemText(result);
    m_text = Format(id, {std::wstring_view(system), extra});
}

void CSimpleErr::SetErrWithCause(std::uint32_t id, std::wstring_view detail, HRESULT cause)
{
    std::wstring text(detail);
    if (cause != S_OK)
        text += L"\n\n" + GetSystemText(cause);
    m_id = id;
    m_result = cause;
    m_text = Format(id, {std::wstring_view(text)});
}

void CSimpleErr::SetErrNumber(std::uint32_t id, long long number)
{
    m_id = id;
    m_result = 0;
    m_text = Format(id, {number});
}

void CSimpleErr::Clear()
{
    m_id = 0;
    m_result = 0;
    m_text.clear();
}

} // namespace zk
