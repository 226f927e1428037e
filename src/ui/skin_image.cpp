#include "ui/skin_image.h"

#include "fetch/image.h"
#include "res/image_resource.h"

namespace zk {

std::shared_ptr<CImage> LoadSkinImage(int id)
{
    auto resource = FindImageResource(id);
    if (!resource)
        return {};
    return DecodeImage(resource->data, resource->size);
}

} // namespace zk
