#pragma once

#include "fetch/image_fwd.h"

#include <memory>

namespace zk {

// Decodes the skin image with this id (an IDB_ constant of res/resource_ids.h)
// into a fresh 32-bit image with straight alpha; every call gives a copy of
// its own. Empty when the program carries no such image.
std::shared_ptr<CImage> LoadSkinImage(int id);

} // namespace zk
