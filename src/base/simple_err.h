#pragma once

#include "platform/result_code.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// The error record of every subsystem: a message id of the string table (0
// for no error), a result code (0 when none) and the formatted text.
class CSimpleErr
{
public:
    // Formatted texts are cut at the message's length plus this many characters.
    static constexpr std::size_t kFormatSlack = 1024;

    // By id alone: the text is the message itself.
    void SetErr(std::uint32_t id);
    // By id and result code: the message's "%s" receives the code's system text.
    void SetErr(std::uint32_t id, HRESULT result);
    // By id and detail text: the detail fills the message's "%s".
    void SetErr(std::uint32_t id, std::wstring_view detail);
    // By id, code and a further text: the system text fills the first "%s",
    // the further text the second.
    void SetErr(std::uint32_t id, HRESULT result, std::wstring_view extra);
    // By id, detail text and the code of the cause: the detail and, after an
    // empty line, the code's system text fill the message's "%s".
    void SetErrWithCause(std::uint32_t id, std::wstring_view detail, HRESULT cause);
    // By id and number, for messages with a "%d".
    void SetErrNumber(std::uint32_t id, long long number);

    void Clear();
    void CopyFrom(const CSimpleErr& other) { *this = other; }

    std::uint32_t GetId() const { return m_id; }
    HRESULT GetResult() const { return m_result; }
    const std::wstring& GetText() const { return m_text; }
    bool HasErr() const { return m_id != 0; }

private:
    std::uint32_t m_id = 0;
    HRESULT m_result = 0;
    std::wstring m_text;
};

// Gives a class one error record.
template <class TErr = CSimpleErr> class CHasErr
{
public:
    TErr& GetErr() { return m_err; }
    const TErr& GetErr() const { return m_err; }

protected:
    TErr m_err;
};

} // namespace zk
