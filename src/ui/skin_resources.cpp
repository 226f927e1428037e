#include "ui/skin_resources.h"

#include "fetch/drawing_surface.h"
#include "res/resource_ids.h"
#include "ui/skin_image.h"

#include <memory>

namespace zk {

namespace {

std::unique_ptr<CTextureBrush> g_dottedSeparator;

} // namespace

bool CreateSkinResources()
{
    auto image = LoadSkinImage(IDB_DOTTED_SEPARATOR);
    if (!image)
        return false;
    g_dottedSeparator = std::make_unique<CTextureBrush>(std::move(image));
    return true;
}

void ReleaseSkinResources()
{
    g_dottedSeparator.reset();
}

const CTextureBrush* GetDottedSeparatorBrush()
{
    return g_dottedSeparator.get();
}

} // namespace zk
