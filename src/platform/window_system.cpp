#include "platform/window_system.h"

namespace zk {

namespace {

IWindowSystem* g_system = nullptr;

} // namespace

void SetWindowSystem(IWindowSystem* system)
{
    g_system = system;
}

IWindowSystem& GetWindowSystem()
{
    return *g_system;
}

bool HasWindowSystem()
{
    return g_system != nullptr;
}

} // namespace zk
