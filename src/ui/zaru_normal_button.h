#pragma once

#include "platform/rect.h"
#include "ui/widget.h"

#include <memory>

namespace zk {

class CImage;

// An image button: it reports a click to its window as WM_COMMAND with its
// id and shows its state by the image's opacity: full while pressed under
// the pointer, nearly full when hot or selected, half otherwise.
class CZaruNormalButton : public CWidget
{
public:
    static constexpr std::uint8_t kAlphaPressed = 255;
    static constexpr std::uint8_t kAlphaHot = 229;
    static constexpr std::uint8_t kAlphaNormal = 127;

    // -1 for a button whose clicks nobody asks for.
    explicit CZaruNormalButton(int commandId = -1) : m_commandId(commandId) {}

    // A button without an owner window is not attached: it takes no input.
    void SetOwner(CWindow* owner) { m_owner = owner; }
    CWindow* GetOwner() const { return m_owner; }
    int GetCommandId() const { return m_commandId; }
    const RECT& GetRect() const { return m_rect; }
    void SetRect(const RECT& rect) { m_rect = rect; }
    const std::shared_ptr<CImage>& GetImage() const { return m_image; }
    void SetImage(std::shared_ptr<CImage> image) { m_image = std::move(image); }
    void SetSelected(bool selected) { m_selected = selected; }
    bool IsHot() const { return m_hot; }
    bool IsPressed() const { return m_pressed; }
    bool IsInClick() const { return m_inClick; }
    // A button may be marked pressed from outside while something it opened
    // (a menu) runs, so that it is drawn highlighted meanwhile.
    void SetPressed(bool pressed) { m_pressed = pressed; }
    void SetInClick(bool inClick) { m_inClick = inClick; }

    // The opacity the button is drawn with now.
    std::uint8_t GetAlpha() const;

    bool HitTest(int x, int y) const override;
    void Layout() override {}
    bool Tick(std::uint32_t time, int x, int y) override;
    bool ButtonDown(std::uint32_t keys, int x, int y) override;
    bool ButtonUp(std::uint32_t keys, int x, int y) override;
    bool CaptureChanged(CWindow* newCapture) override;
    void Paint(CGraphics& graphics) override;

protected:
    CWindow* m_owner = nullptr;
    int m_commandId;
    RECT m_rect;
    bool m_selected = false;
    std::shared_ptr<CImage> m_image;
    bool m_hot = false;
    bool m_pressed = false;
    bool m_inClick = false;
};

} // namespace zk
