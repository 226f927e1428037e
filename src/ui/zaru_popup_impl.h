#pragma once

#include "platform/tick_count.h"
#include "platform/ui_services.h"
#include "platform/window_types.h"
#include "res/string_table.h"
#include "ui/single_timer_impl.h"
#include "ui/widget.h"
#include "ui/zaru_dlg_impl.h"

#include <cstdint>
#include <cstdlib>
#include <functional>

namespace zk {

// A skinned popup run modally over the main window, with its own 25 ms
// timer for the button animations. T gives its layout with GetLayout(),
// which places itself with PlaceAt(pointer) and lists its input widgets with
// GetWidgets(), and may take commands in OnCommand.
template <class T> class CZaruPopupImpl : public CZaruDlgImpl<T>, public CSingleTimerImpl<T, 100, 1>
{
public:
    using Timer = CSingleTimerImpl<T, 100, 1>;
    static constexpr unsigned kTimerPeriodMs = 25;
    // The string that names every window of the program to the desktop.
    static constexpr std::uint32_t kTitleStringId = 128;
    // How far the two clicks of a double-click may lie apart.
    static constexpr int kDoubleClickSlop = 5;

    CZaruPopupImpl() { this->SetTimerPeriod(kTimerPeriodMs); }

    // Shows the popup under the pointer and runs it until it ends; the
    // owner takes no input meanwhile (its timer goes on). Answers the
    // popup's result: 2 unless a button set another, 0 when the window
    // could not be made.
    int DoModal(CWindow* owner)
    {
        m_result = IDCANCEL;
        if (!this->CreateEx(owner, RECT{}, LoadString(kTitleStringId)))
            return 0;
        bool disable = owner && !m_ownerStaysEnabled;
        if (disable)
            owner->EnableWindow(false);
        this->ShowWindow(SW_SHOW);
        this->SetForegroundWindow();
        m_shownAt = m_clock();
        m_shownPointer = GetCursorPos();
        m_firstPress = true;
        this->RunModalLoop();
        if (disable)
            owner->EnableWindow(true);
        this->DestroyWindow();
        return m_result;
    }

    int GetResult() const { return m_result; }

    // The owner goes on taking input while the popup is open (the detail
    // popup takes the next person from it); it must keep its input away
    // from everything else itself.
    void SetOwnerStaysEnabled(bool enabled) { m_ownerStaysEnabled = enabled; }
    // The millisecond clock of the double-click guard; tests set their own.
    void SetClock(std::function<std::uint32_t()> clock) { m_clock = std::move(clock); }

protected:
    // Ends the modal run with the result.
    void EndWith(int result)
    {
        m_result = result;
        this->PostMessage(WM_APP);
    }

    int OnCreate() override
    {
        this->MoveWindow(Self().GetLayout().PlaceAt(GetCursorPos()));
        this->StartTimer();
        return 0;
    }

    void OnDestroy() override { this->StopTimer(); }

    void OnTimer(int id) override
    {
        if (id != Timer::kTimerId)
            return;
        POINT pointer = this->ScreenToClient(GetCursorPos());
        if (Self().GetLayout().Tick(TickCountMs(), pointer.x, pointer.y))
            this->Redraw();
    }

    // The popup opens with its close button under the pointer: the second
    // click of the double-click that opened it must not close it again.
    // Only the first press can be that click; one elsewhere, or later, is
    // the user's own.
    bool InOpeningDoubleClick(POINT screen)
    {
        bool first = m_firstPress;
        m_firstPress = false;
        return first && m_clock() - m_shownAt < GetDoubleClickTime() &&
               std::abs(screen.x - m_shownPointer.x) <= kDoubleClickSlop &&
               std::abs(screen.y - m_shownPointer.y) <= kDoubleClickSlop;
    }

    void OnNcLButtonDown(int hitCode, POINT screen) override
    {
        if (!InOpeningDoubleClick(screen))
            CZaruDlgImpl<T>::OnNcLButtonDown(hitCode, screen);
    }

    void OnLButtonDown(std::uint32_t keys, POINT point) override
    {
        if (InOpeningDoubleClick(this->ClientToScreen(point)))
            return;
        bool changed = false;
        for (CWidget* widget : Self().GetLayout().GetWidgets())
            changed = widget->ButtonDown(keys, point.x, point.y) || changed;
        RedrawIf(changed);
    }

    void OnLButtonUp(std::uint32_t keys, POINT point) override
    {
        bool changed = false;
        for (CWidget* widget : Self().GetLayout().GetWidgets())
            changed = widget->ButtonUp(keys, point.x, point.y) || changed;
        RedrawIf(changed);
    }

    void OnCaptureChanged(CWindow* newCapture) override
    {
        bool changed = false;
        for (CWidget* widget : Self().GetLayout().GetWidgets())
            changed = widget->CaptureChanged(newCapture) || changed;
        RedrawIf(changed);
    }

    // The hand over a button, as over every link of the program.
    bool OnSetCursor(int hitCode) override
    {
        if (hitCode != HTCLIENT)
            return false;
        POINT pointer = this->ScreenToClient(GetCursorPos());
        for (CWidget* widget : Self().GetLayout().GetWidgets()) {
            if (widget->HitTest(pointer.x, pointer.y)) {
                this->SetCursor(CCursor::Hand);
                return true;
            }
        }
        return false;
    }

    bool OnToolTip(POINT point, std::wstring& text, RECT& area) override
    {
        return Self().GetLayout().GetToolTip(point, text, area);
    }

    // Esc leaves the popup as its close button does.
    void OnKeyDown(int key) override
    {
        if (key == VK_ESCAPE)
            this->PostMessage(WM_APP);
    }

private:
    T& Self() { return static_cast<T&>(*this); }

    void RedrawIf(bool changed)
    {
        if (changed && this->IsWindow())
            this->Redraw();
    }

    int m_result = IDCANCEL;
    bool m_ownerStaysEnabled = false;
    std::function<std::uint32_t()> m_clock = TickCountMs;
    std::uint32_t m_shownAt = 0;
    POINT m_shownPointer{};
    bool m_firstPress = false;
};

} // namespace zk
