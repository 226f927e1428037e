#include "res/string_table.h"

#include "base/portal_hosts.h"

#include <algorithm>
#include <array>
#include <cwchar>

namespace zk {
namespace {

struct CStringEntry
{
    std::uint32_t id;
    const wchar_t* text;
};

// Sorted by id; the lookup is a binary search.
constexpr CStringEntry kStrings[] = {
#include "res/string_table_data.inc"
};

constexpr bool IsSortedById()
{
    for (std::size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    }
    return true;
}
static_assert(IsSortedById(), "string table entries must be sorted by id, each id once");

constexpr std::size_t kFirstBufferSize = 256;
constexpr std::size_t kBufferGrowth = 10;
constexpr std::size_t kMaxBufferSize = 65536;

} // namespace

const wchar_t* FindString(std::uint32_t id)
{
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const CStringEntry& e, std::uint32_t key) { return e.id < key; });
    if (it == std::end(kStrings) || it->id != id)
        return nullptr;
    return it->text;
}

std::wstring LoadString(std::uint32_t id)
{
    const wchar_t* text = FindString(id);
    if (!text)
        return {};
    // A buffer of n characters holds n - 1 characters and the terminator; a
    // text that fills it may have been cut, so the buffer grows and the load
    // is repeated, until the largest buffer.
    std::size_t length = std::wcslen(text);
    std::size_t size = kFirstBufferSize;
    while (length >= size - 1 && size < kMaxBufferSize)
        size = std::min(size * kBufferGrowth, kMaxBufferSize);
    return std::wstring(text, std::min(length, size - 1));
}

} // namespace zk
