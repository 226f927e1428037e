#include "ui/zarumate_data_layout.h"

#include "fetch/drawing_surface.h"
#include "platform/ui_services.h"
#include "res/resource_ids.h"
#include "res/string_table.h"
#include "ui/skin_image.h"
#include "ui/skin_resources.h"
#include "ui/zarumate_cell.h"

#include <algorithm>

namespace zk {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kBlack = 0xFF000000;
constexpr int kLinkImages[] = {IDB_LINK_GAME_ROOM, IDB_LINK_LIFE, IDB_LINK_BLOG,
                               IDB_LINK_MICROBLOG};

CRectF ToRectF(const RECT& rect)
{
    return {float(rect.left), float(rect.top), float(rect.Width()), float(rect.Height())};
}

} // namespace

CZarumateDataLayout::CZarumateDataLayout()
    : m_links{CZaruNormalButton(kLinkIds[0]), CZaruNormalButton(kLinkIds[1]),
              CZaruNormalButton(kLinkIds[2]), CZaruNormalButton(kLinkIds[3])}
{
    SetTitleLogo(LoadSkinImage(IDB_PROFILE_TITLE));
    AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
    for (std::size_t i = 0; i < m_links.size(); ++i)
        m_links[i].SetImage(LoadSkinImage(kLinkImages[i]));
}

SIZE CZarumateDataLayout::GetWindowSize()
{
    return {kMarginLeft + kContentWidth + kMarginRight,
            kMarginTop + kContentHeight + kSeparatorGap + kLinkRowHeight + kMarginBottom};
}

RECT CZarumateDataLayout::PlaceAt(POINT pointer) const
{
    // The close button's centre lands under the pointer, so that a second
    // click where the friend was clicked closes the popup again.
    SIZE size = GetWindowSize();
    int left = pointer.x + kTitleButtonRight - size.cx;
    int top = pointer.y - kTitleButtonTop;
    RECT rect{left, top, left + size.cx, top + size.cy};
    return MoveRectInside(rect, MonitorFromPoint(pointer).monitor);
}

CRectF CZarumateDataLayout::GetNameRect() const
{
    const RECT& inner = GetInnerRect();
    float left = float(inner.left + kNameLeft);
    float top = float(inner.top + kNameTop);
    return {left, top, std::max(0.0f, float(inner.right - kNameRight) - left),
            std::max(0.0f, float(inner.bottom) - top)};
}

bool CZarumateDataLayout::Layout(CWindow* window)
{
    bool moved = CZaruFrameLayout::Layout(window);
    int x = kMarginLeft + kLinkRowLeft;
    int y = GetSeparatorTop() + kLinkRowTop;
    for (CZaruNormalButton& link : m_links) {
        link.SetOwner(window);
        int width = link.GetImage() ? link.GetImage()->GetWidth() : 0;
        int height = link.GetImage() ? link.GetImage()->GetHeight() : 0;
        RECT rect{x, y, x + width, y + height};
        moved = moved || !(rect == link.GetRect());
        link.SetRect(rect);
        x += width + kLinkSpacing;
    }
    return moved;
}

bool CZarumateDataLayout::GetToolTip(POINT point, std::wstring& text, RECT& area) const
{
    for (std::size_t i = 0; i < m_links.size(); ++i) {
        if (PtInRect(m_links[i].GetRect(), point)) {
            text = LoadString(CZarumateCell::kLinkToolTipIds[i]);
            area = m_links[i].GetRect();
            return !text.empty();
        }
    }
    return CZaruFrameLayout::GetToolTip(point, text, area);
}

bool CZarumateDataLayout::Tick(std::uint32_t time, int x, int y)
{
    bool changed = CZaruFrameLayout::Tick(time, x, y);
    for (CZaruNormalButton& link : m_links)
        changed = link.Tick(time, x, y) || changed;
    return changed;
}

std::vector<CWidget*> CZarumateDataLayout::GetWidgets()
{
    return {&m_links[0], &m_links[1], &m_links[2], &m_links[3]};
}

void CZarumateDataLayout::Paint(CGraphics& graphics)
{
    PaintFrame(graphics);
    const RECT& inner = GetInnerRect();
    graphics.FillRectangle(CSolidBrush(kWhite), ToRectF(inner));
    graphics.SetClip(ToRectF(inner));
    if (m_record) {
        CFont font(kNamePointSize, CFontStyle::Bold);
        // A name longer than the line ends in an ellipsis inside the white
        // area, never cut through a letter at its edge.
        CStringFormat nameFormat;
        nameFormat.noWrap = true;
        nameFormat.ellipsis = true;
        graphics.DrawString(m_record->m_name, font, GetNameRect(), nameFormat, CSolidBrush(kBlack));
        if (m_record->m_image)
            graphics.DrawImage(*m_record->m_image,
                               {float(inner.left + kAvatarLeft), float(inner.top + kAvatarTop),
                                float(kAvatarWidth), float(kAvatarHeight)});
    }
    if (const CTextureBrush* dotted = GetDottedSeparatorBrush())
        graphics.FillRectangle(
            *dotted, {float(kMarginLeft), float(GetSeparatorTop()), float(kContentWidth), 1.0f});
    for (CZaruNormalButton& link : m_links)
        link.Paint(graphics);
    graphics.ResetClip();
}

} // namespace zk
