# Writes a C++ source that holds the skin images (IMAGES_DIR/<id>.png) and the
# program icon (ICONS_DIR/zarumatekit-<size>.png) as byte arrays, so that the
# program carries its pictures inside itself and needs no files beside it.
#
#   cmake -DIMAGES_DIR=... -DICONS_DIR=... -DOUTPUT=... -P embed_images.cmake

foreach(var IMAGES_DIR ICONS_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_images.cmake needs -D${var}=...")
  endif()
endforeach()

# Appends "const std::uint8_t <array>[] = {...};" holding the file's bytes.
function(append_bytes out_var array file)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  # CMake's expressions know no {16}: sixteen bytes to a line by repetition.
  string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " hex "${hex}")
  set(${out_var} "${${out_var}}const std::uint8_t ${array}[] = {\n    ${hex}\n};\n\n" PARENT_SCOPE)
endfunction()

set(arrays "")
set(image_rows "")
file(GLOB images RELATIVE "${IMAGES_DIR}" "${IMAGES_DIR}/*.png")
list(SORT images COMPARE NATURAL)
foreach(name IN LISTS images)
  string(REGEX MATCH "^([0-9]+)\\.png$" match "${name}")
  if(NOT match)
    message(FATAL_ERROR "embed_images.cmake: ${name} is not named <id>.png")
  endif()
  set(id "${CMAKE_MATCH_1}")
  append_bytes(arrays kImage${id} "${IMAGES_DIR}/${name}")
  string(APPEND image_rows "    {${id}, kImage${id}, sizeof(kImage${id})},\n")
endforeach()

set(icon_rows "")
file(GLOB icons RELATIVE "${ICONS_DIR}" "${ICONS_DIR}/zarumatekit-*.png")
list(SORT icons COMPARE NATURAL)
foreach(name IN LISTS icons)
  string(REGEX MATCH "^zarumatekit-([0-9]+)\\.png$" match "${name}")
  if(NOT match)
    message(FATAL_ERROR "embed_images.cmake: ${name} is not named zarumatekit-<size>.png")
  endif()
  set(size "${CMAKE_MATCH_1}")
  append_bytes(arrays kIcon${size} "${ICONS_DIR}/${name}")
  string(APPEND icon_rows "    {${size}, kIcon${size}, sizeof(kIcon${size})},\n")
endforeach()

set(text "// Made by src/res/embed_images.cmake from src/res/images and src/res/icons.
#include \"res/embedded_images.h\"

namespace zk {
namespace {

${arrays}const CEmbeddedImage kImages[] = {
${image_rows}};

const CEmbeddedImage kIcons[] = {
${icon_rows}};

} // namespace

std::span<const CEmbeddedImage> EmbeddedImages()
{
    return kImages;
}

std::span<const CEmbeddedImage> EmbeddedIcons()
{
    return kIcons;
}

} // namespace zk
")

# Write only on change, so that an unchanged set of images compiles nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
