#pragma once

#include "friends/zarumate_data.h"
#include "platform/window_types.h"
#include "ui/zaru_frame_layout.h"
#include "ui/zaru_normal_button.h"

#include <array>
#include <vector>

namespace zk {

struct CRectF;

// The detail popup's picture: one friend's name and avatar above a dotted
// line, and the four links to the friend's pages below it.
class CZarumateDataLayout : public CZaruFrameLayout
{
public:
    static constexpr int kContentWidth = 200;
    static constexpr int kContentHeight = 180; // above the link row
    static constexpr int kSeparatorGap = 3;
    static constexpr int kNameLeft = 16; // from the inner area's top left
    static constexpr int kNameTop = 15;
    // The name keeps this far from the inner area's right edge.
    static constexpr int kNameRight = 8;
    static constexpr int kAvatarLeft = 10;
    static constexpr int kAvatarTop = 40;
    static constexpr int kAvatarWidth = 90;
    static constexpr int kAvatarHeight = 105;
    static constexpr int kLinkRowHeight = 36;
    static constexpr int kLinkRowLeft = 13; // from the left margin
    static constexpr int kLinkRowTop = 10;  // below the separator
    static constexpr int kLinkSpacing = 6;
    static constexpr float kNamePointSize = 8.0f;
    // Game room, life page, blog, microblog.
    static constexpr std::array<int, 4> kLinkIds{9001, 9002, 9003, 9004};

    CZarumateDataLayout();

    void SetRecord(CZarumateDataPtr record) { m_record = std::move(record); }
    const CZarumateDataPtr& GetRecord() const { return m_record; }

    static SIZE GetWindowSize();
    // The window's rectangle with the close button under the pointer, moved
    // inside the monitor nearest to it.
    RECT PlaceAt(POINT pointer) const;

    // Where the name is set, window coordinates (the inner area once laid
    // out).
    CRectF GetNameRect() const;
    bool Layout(CWindow* window);
    // The links' tooltips, then the close button's.
    bool GetToolTip(POINT point, std::wstring& text, RECT& area) const override;
    bool Tick(std::uint32_t time, int x, int y);
    std::vector<CWidget*> GetWidgets();
    const std::array<CZaruNormalButton, 4>& GetLinkButtons() const { return m_links; }
    // The y of the dotted line, in window coordinates.
    static int GetSeparatorTop() { return kMarginTop + kContentHeight + kSeparatorGap; }
    void Paint(CGraphics& graphics) override;

private:
    CZarumateDataPtr m_record;
    std::array<CZaruNormalButton, 4> m_links;
};

} // namespace zk
