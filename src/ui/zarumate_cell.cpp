#include "ui/zarumate_cell.h"

#include "fetch/bitmap_ops.h"
#include "fetch/drawing_surface.h"
#include "friends/avatar_cache.h"
#include "friends/time_text.h"
#include "platform/system_clock.h"
#include "platform/window_types.h"
#include "res/string_table.h"
#include "ui/skin_image.h"

#include <algorithm>

namespace zk {

namespace {

CRectF ToRectF(const RECT& rect)
{
    return {float(rect.left), float(rect.top), float(rect.Width()), float(rect.Height())};
}

} // namespace

CZarumateCell::LinkImages CZarumateCell::LoadLinkImages()
{
    LinkImages images;
    for (int i = 0; i < kLinkCount; ++i)
        images[i] = LoadSkinImage(kLinkImageIds[i]);
    return images;
}

void CZarumateCell::SetRecord(CZarumateDataPtr record, const LinkImages& images)
{
    m_record = std::move(record);
    m_links.clear();
    if (!m_record)
        return;
    for (int i = 0; i < kLinkCount; ++i) {
        auto link = std::make_shared<CZaruNormalButton>(kLinkCommandIds[i]);
        link->SetOwner(m_owner);
        link->SetImage(images[i]);
        m_links.push_back(std::move(link));
    }
    Layout();
}

void CZarumateCell::TakePressFrom(const CZarumateCell& old)
{
    if (old.m_inClick || old.m_record != m_record)
        return;
    m_pressed = old.m_pressed;
    for (std::size_t i = 0; i < m_links.size() && i < old.m_links.size(); ++i)
        if (!old.m_links[i]->IsInClick())
            m_links[i]->SetPressed(old.m_links[i]->IsPressed());
}

bool CZarumateCell::IsOverLink(int x, int y) const
{
    for (const auto& link : m_links)
        if (PtInRect(link->GetRect(), {x, y}))
            return true;
    return false;
}

bool CZarumateCell::GetLinkToolTip(POINT point, std::wstring& text, RECT& area) const
{
    for (std::size_t i = 0; i < m_links.size() && i < kLinkToolTipIds.size(); ++i) {
        if (PtInRect(m_links[i]->GetRect(), point)) {
            text = LoadString(kLinkToolTipIds[i]);
            area = m_links[i]->GetRect();
            return !text.empty();
        }
    }
    return false;
}

bool CZarumateCell::IsAnyPressed() const
{
    if (m_pressed)
        return true;
    for (const auto& link : m_links)
        if (link->IsPressed())
            return true;
    return false;
}

std::int64_t CZarumateCell::GetFreeWidth() const
{
    if (m_links.empty())
        return m_rect.Width();
    return std::int64_t(m_rect.right) - m_links.back()->GetRect().right;
}

CRectF CZarumateCell::GetNameRect() const
{
    float left = float(m_rect.left + kNameLeft);
    return {left, float(m_rect.top + kNameTop), std::max(0.0f, float(m_rect.right) - left),
            float(m_rect.Height() - kNameTop)};
}

bool CZarumateCell::HitTest(int x, int y) const
{
    return CZaruNormalButton::HitTest(x, y);
}

void CZarumateCell::Layout()
{
    int x = m_rect.left + kLinkLeft;
    int bottom = m_rect.bottom - kLinkBottom;
    for (const auto& link : m_links) {
        const auto& image = link->GetImage();
        int width = image ? image->GetWidth() : 0;
        int height = image ? image->GetHeight() : 0;
        link->SetRect({x, bottom - height, x + width, bottom});
        x += width + kLinkGap;
    }
}

bool CZarumateCell::Tick(std::uint32_t time, int x, int y)
{
    bool changed = CZaruNormalButton::Tick(time, x, y);
    for (const auto& link : m_links)
        changed = link->Tick(time, x, y) || changed;
    return changed;
}

bool CZarumateCell::ButtonDown(std::uint32_t keys, int x, int y)
{
    if (!m_record)
        return false;
    for (const auto& link : m_links)
        if (link->ButtonDown(keys, x, y))
            return true;
    return CZaruNormalButton::ButtonDown(keys, x, y);
}

bool CZarumateCell::ButtonUp(std::uint32_t keys, int x, int y)
{
    // A press that began on a link ends there: the link sends its own
    // command and the row sends none.
    bool linkHadPress = false;
    bool changed = false;
    for (const auto& link : m_links) {
        linkHadPress = linkHadPress || link->IsPressed();
        changed = link->ButtonUp(keys, x, y) || changed;
    }
    if (linkHadPress) {
        m_hot = HitTest(x, y);
        m_pressed = false;
        return true;
    }
    return CZaruNormalButton::ButtonUp(keys, x, y) || changed;
}

bool CZarumateCell::CaptureChanged(CWindow* newCapture)
{
    bool changed = CZaruNormalButton::CaptureChanged(newCapture);
    for (const auto& link : m_links)
        changed = link->CaptureChanged(newCapture) || changed;
    return changed;
}

void CZarumateCell::Paint(CGraphics& graphics)
{
    if (!m_record)
        return;
    if (m_hot || m_pressed)
        FillRoundedRect(graphics, CSolidBrush(kHotFill), ToRectF(m_rect), kHotRadius);

    // A thumbnail that cannot be made leaves the cell without an avatar;
    // the reason is of no use to anyone here.
    CSimpleErr scratch;
    PrepareThumbnail(*m_record, scratch);
    if (const auto& thumbnail = m_record->m_thumbnail)
        graphics.DrawImage(*thumbnail,
                           CRectF{float(m_rect.left), float(m_rect.top + kThumbnailTop),
                                  float(thumbnail->GetWidth()), float(thumbnail->GetHeight())});

    if (!m_font)
        m_font = std::make_shared<CFont>(kFontPoints);
    // The name ends at the cell's right edge, before the scroll column; a
    // longer one ends in an ellipsis.
    CStringFormat nameFormat;
    nameFormat.noWrap = true;
    nameFormat.ellipsis = true;
    graphics.DrawString(m_record->m_name, *m_font, GetNameRect(), nameFormat,
                        CSolidBrush(kNameColor));

    for (const auto& link : m_links)
        link->Paint(graphics);
    if (!PaintDownloadState(graphics, *m_font))
        PaintLastSeen(graphics, *m_font);
}

bool CZarumateCell::PaintDownloadState(CGraphics& graphics, const CFont& font)
{
    const CSimpleErr& state = m_record->m_error;
    if (!m_showsDownloadState || !state.HasErr())
        return false;
    // A failure is told in one sentence, whatever its reason (the details
    // do not fit a cell, and some failures carry none).
    bool busy = state.GetId() == kDownloadingStateId;
    CStringFormat format;
    format.alignment = CStringAlignment::Far;
    format.lineAlignment = CStringAlignment::Far;
    format.noWrap = true;
    float left = float(m_rect.right - GetFreeWidth() + kTimeGap);
    CRectF box{left, float(m_rect.top), std::max(0.0f, float(m_rect.right) - left),
               float(m_rect.Height() - kTimeBottom)};
    std::wstring text =
        busy ? LoadString(kDownloadingStateId) : FailureText(graphics, font, format);
    // Only a window narrower than the default cuts the short text.
    format.ellipsis = true;
    graphics.DrawString(text, font, box, format, CSolidBrush(busy ? kTimeColor : kFailureColor));
    return true;
}

std::wstring CZarumateCell::FailureText(CGraphics& graphics, const CFont& font,
                                        const CStringFormat& format) const
{
    // Measured in the whole cell, so that a text wider than the room shows
    // its own width.
    CRectF cell{float(m_rect.left), float(m_rect.top), float(m_rect.Width()),
                float(m_rect.Height() - kTimeBottom)};
    std::wstring whole = LoadString(kDownloadFailedStringId);
    if (FitsBesideLinks(graphics, font, cell, format, whole))
        return whole;
    return LoadString(kRefreshFailedStringId);
}

void CZarumateCell::PaintLastSeen(CGraphics& graphics, const CFont& font)
{
    const SYSTEMTIME& seen = m_record->m_updateTime;
    if (seen == SYSTEMTIME{} || GetFreeWidth() < kTimeMinWidth)
        return;
    // A time the system cannot convert is shown as it is; its text then
    // marks the fields that are no real date or time.
    SYSTEMTIME local;
    if (!UtcToLocalTime(seen, local))
        local = seen;
    CStringFormat format;
    format.alignment = CStringAlignment::Far;
    format.lineAlignment = CStringAlignment::Far;
    format.noWrap = true;
    // The time keeps clear of the link icons: where it is wider than the
    // room beside them it is left out rather than drawn over them.
    CRectF box{float(m_rect.left), float(m_rect.top), float(m_rect.Width()),
               float(m_rect.Height() - kTimeBottom)};
    std::wstring text = FormatTime(local, 0);
    if (!FitsBesideLinks(graphics, font, box, format, text)) {
        // A proportional Latin face sets the whole time wider than the room
        // a window of the default width leaves; the minutes are what a
        // reader wants from it, so the seconds go first.
        std::size_t seconds = text.rfind(L':');
        if (seconds == std::wstring::npos)
            return;
        text.erase(seconds);
        if (!FitsBesideLinks(graphics, font, box, format, text))
            return;
    }
    graphics.DrawString(text, font, box, format, CSolidBrush(kTimeColor));
}

bool CZarumateCell::FitsBesideLinks(CGraphics& graphics, const CFont& font, const CRectF& box,
                                    const CStringFormat& format, const std::wstring& text) const
{
    CRectF bounds;
    return graphics.MeasureString(text, font, box, format, bounds) == CDrawStatus::Ok &&
           bounds.width + kTimeGap <= GetFreeWidth();
}

} // namespace zk
