#pragma once

namespace zk {

// A decoded or drawn 32-bit image of the drawing surface.
class CImage;
enum class CPixelFormat;

} // namespace zk
