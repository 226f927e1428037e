#include "res/image_resource.h"

#include "res/embedded_images.h"

#include <algorithm>

namespace zk {
namespace {

std::optional<CImageResource> FindByKey(std::span<const CEmbeddedImage> table, int key)
{
    auto it = std::lower_bound(table.begin(), table.end(), key,
                               [](const CEmbeddedImage& entry, int k) { return entry.key < k; });
    if (it == table.end() || it->key != key)
        return std::nullopt;
    return CImageResource{it->data, it->size};
}

} // namespace

std::optional<CImageResource> FindImageResource(int id)
{
    return FindByKey(EmbeddedImages(), id);
}

std::optional<CImageResource> FindProgramIcon(int size)
{
    return FindByKey(EmbeddedIcons(), size);
}

} // namespace zk
