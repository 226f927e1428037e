#include "ui/zaru_frame_layout.h"

#include "fetch/drawing_surface.h"
#include "platform/window.h"
#include "res/resource_ids.h"
#include "res/string_table.h"
#include "ui/skin_image.h"

#include <algorithm>

namespace zk {

CZaruFrameLayout::CZaruFrameLayout() : m_background(LoadSkinImage(IDB_FRAME_TEXTURE)) {}

CZaruFrameLayout::~CZaruFrameLayout() = default;

bool CZaruFrameLayout::Layout(CWindow* window)
{
    m_owner = window;
    if (window)
        m_windowRect = window->GetWindowRect();
    m_localRect = {0, 0, m_windowRect.right - m_windowRect.left,
                   m_windowRect.bottom - m_windowRect.top};
    m_innerRect = {m_localRect.left + kMarginLeft, m_localRect.top + kMarginTop,
                   m_localRect.right - kMarginRight, m_localRect.bottom - kMarginBottom};
    m_innerRect.right = std::max(m_innerRect.right, m_innerRect.left);
    m_innerRect.bottom = std::max(m_innerRect.bottom, m_innerRect.top);

    bool moved = false;
    for (std::size_t i = 0; i < m_roundButtons.size(); ++i) {
        int x = m_localRect.right - kTitleButtonRight - kTitleButtonSpacing * int(i);
        moved = m_roundButtons[i]->SetCenter(x, m_localRect.top + kTitleButtonTop) || moved;
    }
    return moved;
}

bool CZaruFrameLayout::GetToolTip(POINT point, std::wstring& text, RECT& area) const
{
    for (const auto& button : m_roundButtons) {
        if (!button->Hit(point.x, point.y))
            continue;
        std::uint32_t id = 0;
        if (button->GetHitCode() == HTCLOSE)
            id = kCloseToolTipId;
        else if (button->GetHitCode() == HTMINBUTTON)
            id = kMinimizeToolTipId;
        if (id == 0)
            return false;
        text = LoadString(id);
        area = button->GetBounds();
        return !text.empty();
    }
    return false;
}

int CZaruFrameLayout::HitTest(int x, int y) const
{
    const RECT& w = m_windowRect;
    for (const auto& button : m_roundButtons) {
        if (button->Hit(x - w.left, y - w.top))
            return button->GetHitCode();
    }
    // The caption is as tall as the corners are wide, so a corner grip is
    // as big as the caption; the sides are the border's width.
    constexpr int L = kMarginLeft;
    constexpr int T = kMarginTop;
    if (y >= w.bottom - T - 1 && x >= w.right - T - 1)
        return HTBOTTOMRIGHT;
    if (y <= w.top + T && x <= w.left + T)
        return HTTOPLEFT;
    if (y >= w.bottom - T - 1 && x <= w.left + T)
        return HTBOTTOMLEFT;
    if (y <= w.top + T && x >= w.right - T - 1)
        return HTTOPRIGHT;
    if (y <= w.top + L)
        return HTTOP;
    if (y >= w.bottom - L - 1)
        return HTBOTTOM;
    if (x <= w.left + L)
        return HTLEFT;
    if (x >= w.right - L - 1)
        return HTRIGHT;
    return y <= w.top + T ? HTCAPTION : HTCLIENT;
}

bool CZaruFrameLayout::Tick(std::uint32_t time, int x, int y)
{
    bool changed = false;
    for (const auto& button : m_roundButtons)
        changed = button->Tick(time, x, y) || changed;
    return changed;
}

void CZaruFrameLayout::PaintFrame(CGraphics& graphics) const
{
    CRectF local{0, 0, float(m_localRect.Width()), float(m_localRect.Height())};
    if (m_background)
        graphics.FillRectangle(CTextureBrush(m_background), local);
    if (m_titleLogo)
        graphics.DrawImage(*m_titleLogo,
                           CRectF{float(m_localRect.left + kTitleLogoLeft),
                                  float(m_localRect.top + kTitleLogoTop),
                                  float(m_titleLogo->GetWidth()), float(m_titleLogo->GetHeight())});
    for (const auto& button : m_roundButtons)
        button->Paint(graphics);
}

void CZaruFrameLayout::AddRoundButton(int smallId, int largeId, int hitCode)
{
    m_roundButtons.push_back(std::make_shared<CZaruCircleButton>(LoadSkinImage(smallId),
                                                                 LoadSkinImage(largeId), hitCode));
}

} // namespace zk
