#pragma once

#include "friends/zarumate_data.h"
#include "platform/window_types.h"
#include "res/resource_ids.h"
#include "ui/zaru_normal_button.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace zk {

class CFont;
class CImage;
struct CRectF;
struct CStringFormat;

// One row of the friend list: the avatar thumbnail, the name, the four page
// links and when the person was last seen. A click on the row sends 9000,
// a click on a link that link's command; a cell without a record is an
// empty slot that draws nothing and takes no press.
class CZarumateCell : public CZaruNormalButton
{
public:
    static constexpr int kCommandId = 9000;
    // Game room, life page, blog, microblog.
    static constexpr int kLinkCount = 4;
    static constexpr std::array<int, kLinkCount> kLinkCommandIds{9001, 9002, 9003, 9004};
    static constexpr std::array<int, kLinkCount> kLinkImageIds{IDB_LINK_GAME_ROOM, IDB_LINK_LIFE,
                                                               IDB_LINK_BLOG, IDB_LINK_MICROBLOG};
    // The tooltips of the links: which page each opens.
    static constexpr std::array<std::uint32_t, kLinkCount> kLinkToolTipIds{2410, 2411, 2412, 2413};

    // Where the links sit: the first this far right of the cell's left edge,
    // each next one the gap further right, all bottom-aligned this far above
    // the cell's bottom.
    static constexpr int kLinkLeft = 46;
    static constexpr int kLinkGap = 4;
    static constexpr int kLinkBottom = 5;

    // The picture of a cell.
    static constexpr std::uint32_t kHotFill = 0xFFFFD589;
    static constexpr float kHotRadius = 5.0f;
    static constexpr int kThumbnailTop = 2;
    static constexpr int kNameLeft = 44;
    static constexpr int kNameTop = 5;
    static constexpr float kFontPoints = 8.0f;
    static constexpr std::uint32_t kNameColor = 0xFF000000;
    static constexpr std::uint32_t kTimeColor = 0xFF999999;
    // A refresh the user asked for that failed says so in this colour.
    static constexpr std::uint32_t kFailureColor = 0xFFC00000;
    // The record's mark while its avatar is being fetched ("downloading").
    static constexpr std::uint32_t kDownloadingStateId = 2005;
    static constexpr std::uint32_t kDownloadFailedStringId = 2000;
    // The same in the words of the menu's refresh, short enough to stand
    // whole beside the links of a window of the default width.
    static constexpr std::uint32_t kRefreshFailedStringId = 2420;
    static constexpr int kTimeBottom = 4;
    // The last-seen time needs this much room right of the links.
    static constexpr int kTimeMinWidth = 100;
    // Room kept between the time and the last link icon.
    static constexpr int kTimeGap = 2;

    using LinkImages = std::array<std::shared_ptr<CImage>, kLinkCount>;
    using LinkButton = std::shared_ptr<CZaruNormalButton>;

    CZarumateCell() : CZaruNormalButton(kCommandId) {}

    // The four link images as the skin carries them.
    static LinkImages LoadLinkImages();

    // Shows the record with links drawn from the images, attached to the
    // cell's owner; call SetOwner and SetRect first. A null record makes an
    // empty slot.
    void SetRecord(CZarumateDataPtr record, const LinkImages& images);
    const CZarumateDataPtr& GetRecord() const { return m_record; }
    const std::deque<LinkButton>& GetLinks() const { return m_links; }
    // The position of the cell in the list: slot i shows record i.
    int GetSlot() const { return m_slot; }
    void SetSlot(int slot) { m_slot = slot; }
    // The font of the name and time, shared by the cells of a list; a cell
    // without one makes its own when it first paints.
    void SetFont(std::shared_ptr<CFont> font) { m_font = std::move(font); }

    // Carries a press over from the cell that showed the same record before
    // a rebuild, so that the press still ends in a release that frees the
    // mouse. A press whose click is being sent stays with its old cell.
    void TakePressFrom(const CZarumateCell& old);
    // True when a link icon lies at the point.
    bool IsOverLink(int x, int y) const;
    // The tooltip of the link at the point and the link's rectangle.
    bool GetLinkToolTip(POINT point, std::wstring& text, RECT& area) const;
    // The cell, or one of its links, holds the press.
    bool IsAnyPressed() const;
    // Where the name is set: from its left inset to the cell's right edge.
    CRectF GetNameRect() const;
    // The width right of the last link, where the time may go.
    std::int64_t GetFreeWidth() const;
    // The cache file was looked at since the cell was made, so the view does
    // not ask the file system again on every tick.
    bool IsCacheChecked() const { return m_cacheChecked; }
    void SetCacheChecked() { m_cacheChecked = true; }
    // The cell shows its record's download state (in progress or failed)
    // where the last-seen time goes: the user asked for the avatar.
    void SetShowsDownloadState(bool shows) { m_showsDownloadState = shows; }
    bool ShowsDownloadState() const { return m_showsDownloadState; }

    bool HitTest(int x, int y) const override;
    void Layout() override;
    bool Tick(std::uint32_t time, int x, int y) override;
    bool ButtonDown(std::uint32_t keys, int x, int y) override;
    bool ButtonUp(std::uint32_t keys, int x, int y) override;
    bool CaptureChanged(CWindow* newCapture) override;
    void Paint(CGraphics& graphics) override;

private:
    void PaintLastSeen(CGraphics& graphics, const CFont& font);
    // Answers false when there is no state to show.
    bool PaintDownloadState(CGraphics& graphics, const CFont& font);
    // The failure's text: the whole sentence where the room beside the
    // links takes it, else the short one.
    std::wstring FailureText(CGraphics& graphics, const CFont& font,
                             const CStringFormat& format) const;
    // The text, right-aligned in the box, keeps kTimeGap clear of the last
    // link.
    bool FitsBesideLinks(CGraphics& graphics, const CFont& font, const CRectF& box,
                         const CStringFormat& format, const std::wstring& text) const;

    CZarumateDataPtr m_record;
    std::deque<LinkButton> m_links;
    std::shared_ptr<CFont> m_font;
    int m_slot = 0;
    bool m_cacheChecked = false;
    bool m_showsDownloadState = false;
};

} // namespace zk
