#include "base/message_format.h"

#include "res/string_table.h"

#include <vector>

namespace zk {

std::wstring FormatMessageText(std::wstring_view format, std::initializer_list<CFormatArg> args,
                               std::size_t limit)
{
    std::vector<CFormatArg> list(args);
    std::size_t next = 0;
    std::wstring out;
    for (std::size_t i = 0; i < format.size() && out.size() < limit; ++i) {
        wchar_t c = format[i];
        if (c != L'%' || i + 1 >= format.size()) {
            out.push_back(c);
            continue;
        }
        wchar_t directive = format[++i];
        if (directive == L'%') {
            out.push_back(L'%');
        } else if (directive == L's') {
            if (next < list.size()) {
                if (auto text = std::get_if<std::wstring_view>(&list[next]))
                    out.append(*text);
                ++next;
            }
        } else if (directive == L'd') {
            if (next < list.size()) {
                if (auto number = std::get_if<long long>(&list[next]))
                    out.append(std::to_wstring(*number));
                ++next;
            }
        } else {
            out.push_back(L'%');
            out.push_back(directive);
        }
    }
    if (out.size() > limit)
        out.resize(limit);
    return out;
}

std::wstring FormatStringMessage(std::uint32_t id, std::initializer_list<CFormatArg> args,
                                 std::size_t slack)
{
    std::wstring message = LoadString(id);
    return FormatMessageText(message, args, message.size() + slack);
}

} // namespace zk
