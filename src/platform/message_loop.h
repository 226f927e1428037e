#pragma once

#include <cstdint>
#include <vector>

namespace zk {

class CWindow;

// A message on its way to a window, as the message filters see it.
struct MSG
{
    CWindow* window = nullptr;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// Sees every posted message and key press before it is dispatched, and may
// take it (answer true) so that it goes no further.
class CMessageFilter
{
public:
    virtual ~CMessageFilter() = default;
    virtual bool PreTranslateMessage(MSG& msg) = 0;
};

// Runs when the message queue has run dry after some input or posted
// message arrived.
class CIdleHandler
{
public:
    virtual ~CIdleHandler() = default;
    virtual bool OnIdle() = 0;
};

// The user-interface thread's message loop with its filters and idle
// handlers. One is registered for the thread at start; windows find it with
// GetMessageLoop to attach their filter and idle handler.
class CMessageLoop
{
public:
    bool AddMessageFilter(CMessageFilter* filter);
    bool RemoveMessageFilter(CMessageFilter* filter);
    bool AddIdleHandler(CIdleHandler* handler);
    bool RemoveIdleHandler(CIdleHandler* handler);

    // Runs the loop until the program quits; answers the quit code.
    int Run();

    // Offers the message to the filters, the latest registered first.
    bool PreTranslateMessage(MSG& msg);
    // Runs the idle handlers once if something arrived since the last time.
    void OnIdle();
    // Something arrived that may change what idle handlers see.
    void ArmIdle() { m_idleArmed = true; }

private:
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
    bool m_idleArmed = true;
};

// The loop registered for the user-interface thread, or nullptr.
void SetMessageLoop(CMessageLoop* loop);
CMessageLoop* GetMessageLoop();

// Ends the main loop with the code, as the main frame does when its window
// is destroyed.
void PostQuitMessage(int code);

} // namespace zk
