#pragma once

#include "platform/window_types.h"
#include "ui/zaru_frame_layout.h"
#include "ui/zaru_normal_button.h"

#include <deque>
#include <string>
#include <vector>

namespace zk {

// The message popup's picture: a text on one line per line break, never
// wrapped, above a centred row of image buttons. The window is as large as
// the text and the row need.
class CZaruMsgLayout : public CZaruFrameLayout
{
public:
    struct Margins
    {
        int left, top, right, bottom;
    };
    static constexpr Margins kTextMargins{10, 10, 10, 10};
    static constexpr Margins kButtonMargins{10, 10, 10, 10};
    static constexpr int kButtonSpacing = 8;
    static constexpr float kTextPointSize = 8.0f;

    CZaruMsgLayout();

    void SetText(std::wstring text) { m_text = std::move(text); }
    const std::wstring& GetText() const { return m_text; }
    void ClearButtons() { m_buttons.clear(); }
    void AddButton(int commandId, int imageId);
    const std::deque<CZaruNormalButton>& GetButtons() const { return m_buttons; }

    // Measures the text (in the popup's font, without wrapping) and the
    // button row and works out the window's size.
    void Measure();
    SIZE GetTextSize() const { return m_textSize; }
    SIZE GetButtonRowSize() const { return m_buttonRowSize; }
    SIZE GetWindowSize() const { return m_windowSize; }
    SIZE GetTextBlockSize() const;
    SIZE GetButtonBlockSize() const;
    // Measures, then gives the window's rectangle with the button row under
    // the pointer, moved inside the monitor nearest to it.
    RECT PlaceAt(POINT pointer);

    bool Layout(CWindow* window);
    bool Tick(std::uint32_t time, int x, int y);
    std::vector<CWidget*> GetWidgets();
    void Paint(CGraphics& graphics) override;

private:
    std::wstring m_text;
    std::deque<CZaruNormalButton> m_buttons;
    SIZE m_textSize;
    SIZE m_buttonRowSize;
    SIZE m_windowSize;
};

} // namespace zk
