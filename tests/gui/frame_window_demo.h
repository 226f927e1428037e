#pragma once

#include <cstdint>

namespace zk::test::demo {

// What the frame-window demo draws and answers, shared with the tests that
// drive it so that both agree on where a press lands and what a pixel shows.
// It has the traits of the main frame: a caption band, a close circle, thick
// borders and round see-through corners.
inline constexpr wchar_t kTitle[] = L"zk frame window demo";
inline constexpr char kTitleUtf8[] = "zk frame window demo";
inline constexpr int kCaptionHeight = 27;
inline constexpr int kBorder = 5;
inline constexpr int kCornerRadius = 15;
inline constexpr int kCloseRadius = 8;
inline constexpr int kCloseFromRight = 16;
inline constexpr int kCloseFromTop = 14;
// The minimise circle, of the same radius, left of the close circle.
inline constexpr int kMinimizeFromRight = 36;
inline constexpr int kMinWidth = 156;
inline constexpr int kMinHeight = 30;

inline constexpr std::uint32_t kCaptionColour = 0xFF2A3F6E;
inline constexpr std::uint32_t kBodyColour = 0xFFE8E0C8;
inline constexpr std::uint32_t kCloseColour = 0xFFD03030;
inline constexpr std::uint32_t kMinimizeColour = 0xFF8040C0;
// A half-transparent black patch near the bottom-left corner, premultiplied:
// where alpha is blended, it shows what lies below the window at half
// brightness.
inline constexpr int kHalfLeft = 30;
inline constexpr int kHalfRight = 70;
inline constexpr int kHalfFromBottom = 12; // rows bottom-12 .. bottom-7
inline constexpr int kHalfRows = 6;
inline constexpr std::uint32_t kHalfColour = 0x80000000;

} // namespace zk::test::demo
