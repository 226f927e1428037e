#include "platform/message_loop.h"

#include "platform/window_system.h"

#include <algorithm>

namespace zk {

namespace {

CMessageLoop* g_loop = nullptr;

template <class T> bool AddOnce(std::vector<T*>& list, T* item)
{
    if (!item || std::find(list.begin(), list.end(), item) != list.end())
        return false;
    list.push_back(item);
    return true;
}

template <class T> bool RemoveFrom(std::vector<T*>& list, T* item)
{
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

} // namespace

bool CMessageLoop::AddMessageFilter(CMessageFilter* filter)
{
    return AddOnce(m_filters, filter);
}

bool CMessageLoop::RemoveMessageFilter(CMessageFilter* filter)
{
    return RemoveFrom(m_filters, filter);
}

bool CMessageLoop::AddIdleHandler(CIdleHandler* handler)
{
    return AddOnce(m_idleHandlers, handler);
}

bool CMessageLoop::RemoveIdleHandler(CIdleHandler* handler)
{
    return RemoveFrom(m_idleHandlers, handler);
}

int CMessageLoop::Run()
{
    return GetWindowSystem().RunLoop();
}

bool CMessageLoop::PreTranslateMessage(MSG& msg)
{
    // A filter may remove itself while it looks, so walk a copy.
    auto filters = m_filters;
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        if ((*it)->PreTranslateMessage(msg))
            return true;
    }
    return false;
}

void CMessageLoop::OnIdle()
{
    if (!m_idleArmed)
        return;
    m_idleArmed = false;
    auto handlers = m_idleHandlers;
    for (CIdleHandler* handler : handlers)
        handler->OnIdle();
}

void SetMessageLoop(CMessageLoop* loop)
{
    g_loop = loop;
}

CMessageLoop* GetMessageLoop()
{
    return g_loop;
}

void PostQuitMessage(int code)
{
    if (HasWindowSystem())
        GetWindowSystem().Quit(code);
}

} // namespace zk
