#include "ui/zaru_msg_layout.h"

#include "fetch/drawing_surface.h"
#include "platform/ui_services.h"
#include "res/resource_ids.h"
#include "ui/skin_image.h"

#include <algorithm>
#include <cmath>

namespace zk {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kBlack = 0xFF000000;
// Room enough for any text to be laid out on its lines without wrapping.
constexpr float kUnboundedExtent = 1.0e6f;

CStringFormat NoWrap()
{
    CStringFormat format;
    format.noWrap = true;
    return format;
}

} // namespace

CZaruMsgLayout::CZaruMsgLayout()
{
    AddRoundButton(IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, HTCLOSE);
}

void CZaruMsgLayout::AddButton(int commandId, int imageId)
{
    m_buttons.emplace_back(commandId);
    m_buttons.back().SetImage(LoadSkinImage(imageId));
}

void CZaruMsgLayout::Measure()
{
    m_textSize = {};
    if (auto scratch = CImage::Create(1, 1, CPixelFormat::Argb32)) {
        CGraphics graphics(*scratch);
        CFont font(kTextPointSize);
        CRectF bounds;
        if (graphics.MeasureString(m_text, font, {0, 0, kUnboundedExtent, kUnboundedExtent},
                                   NoWrap(), bounds) == CDrawStatus::Ok)
            // Whole pixels that hold the whole text.
            m_textSize = {int(std::ceil(bounds.width)), int(std::ceil(bounds.height))};
    }

    m_buttonRowSize = {};
    for (const CZaruNormalButton& button : m_buttons) {
        const auto& image = button.GetImage();
        m_buttonRowSize.cx += image ? image->GetWidth() : 0;
        m_buttonRowSize.cy = std::max(m_buttonRowSize.cy, image ? image->GetHeight() : 0);
    }
    if (!m_buttons.empty())
        m_buttonRowSize.cx += kButtonSpacing * int(m_buttons.size() - 1);

    SIZE text = GetTextBlockSize();
    SIZE buttons = GetButtonBlockSize();
    m_windowSize = {std::max(text.cx, buttons.cx) + kMarginLeft + kMarginRight,
                    kMarginTop + text.cy + buttons.cy + kMarginBottom};
}

SIZE CZaruMsgLayout::GetTextBlockSize() const
{
    return {m_textSize.cx + kTextMargins.left + kTextMargins.right,
            m_textSize.cy + kTextMargins.top + kTextMargins.bottom};
}

SIZE CZaruMsgLayout::GetButtonBlockSize() const
{
    return {m_buttonRowSize.cx + kButtonMargins.left + kButtonMargins.right,
            m_buttonRowSize.cy + kButtonMargins.top + kButtonMargins.bottom};
}

RECT CZaruMsgLayout::PlaceAt(POINT pointer)
{
    Measure();
    // The buttons come to lie under the pointer, so that the click that
    // asked the question is near the answer.
    int left = pointer.x - m_windowSize.cx / 2;
    int top = pointer.y - kMarginTop - GetButtonBlockSize().cy / 2 - GetTextBlockSize().cy;
    RECT rect{left, top, left + m_windowSize.cx, top + m_windowSize.cy};
    return MoveRectInside(rect, MonitorFromPoint(pointer).monitor);
}

bool CZaruMsgLayout::Layout(CWindow* window)
{
    bool moved = CZaruFrameLayout::Layout(window);
    int width = int(GetLocalRect().Width());
    int x = kMarginLeft + (width - GetButtonBlockSize().cx - kMarginLeft - kMarginRight) / 2 +
            kButtonMargins.left;
    int y = kMarginTop + GetTextBlockSize().cy + kButtonMargins.top;
    for (CZaruNormalButton& button : m_buttons) {
        button.SetOwner(window);
        const auto& image = button.GetImage();
        int w = image ? image->GetWidth() : 0;
        int h = image ? image->GetHeight() : 0;
        RECT rect{x, y, x + w, y + h};
        moved = moved || !(rect == button.GetRect());
        button.SetRect(rect);
        x += w + kButtonSpacing;
    }
    return moved;
}

bool CZaruMsgLayout::Tick(std::uint32_t time, int x, int y)
{
    bool changed = CZaruFrameLayout::Tick(time, x, y);
    for (CZaruNormalButton& button : m_buttons)
        changed = button.Tick(time, x, y) || changed;
    return changed;
}

std::vector<CWidget*> CZaruMsgLayout::GetWidgets()
{
    std::vector<CWidget*> widgets;
    for (CZaruNormalButton& button : m_buttons)
        widgets.push_back(&button);
    return widgets;
}

void CZaruMsgLayout::Paint(CGraphics& graphics)
{
    PaintFrame(graphics);
    const RECT& inner = GetInnerRect();
    CRectF innerF{float(inner.left), float(inner.top), float(inner.Width()), float(inner.Height())};
    graphics.FillRectangle(CSolidBrush(kWhite), innerF);
    graphics.SetClip(innerF);
    CFont font(kTextPointSize);
    float left = float(inner.left + kTextMargins.left);
    float top = float(inner.top + kTextMargins.top);
    graphics.DrawString(m_text, font, {left, top, kUnboundedExtent, kUnboundedExtent}, NoWrap(),
                        CSolidBrush(kBlack));
    for (CZaruNormalButton& button : m_buttons)
        button.Paint(graphics);
    graphics.ResetClip();
}

} // namespace zk
