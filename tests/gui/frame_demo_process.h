#pragma once

#include "platform/rect.h"
#include "platform/window_types.h"
#include "support/child_process.h"
#include "support/xvfb_session.h"

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace zk::test {

// Ten times what a loaded machine needs.
inline constexpr std::chrono::seconds kGuiWait{10};

// What a frame-window demo reported so far.
struct CDemoState
{
    bool created = false;
    bool closed = false;
    bool compositor = false;
    RECT rect;
    int paints = 0;           // pictures the demo handed over so far
    std::uint64_t shapes = 0; // shapes the window system had cut by the last
};

// A frame-window demo program, followed through its report lines
// ("compositor", "created", "moved", "sized", "closed").
class CFrameDemo
{
public:
    explicit CFrameDemo(std::string path) : m_path(std::move(path)) {}

    // With redraws, the demo paints that many times more at each size.
    bool Start(const CXvfbSession& session, const RECT& at, int redraws = 0)
    {
        std::vector<std::string> args{m_path,
                                      "--at",
                                      std::to_string(at.left),
                                      std::to_string(at.top),
                                      std::to_string(at.Width()),
                                      std::to_string(at.Height())};
        if (redraws > 0)
            args.insert(args.end(), {"--redraws", std::to_string(redraws)});
        return m_child.Start(args, session.Environment());
    }

    // Reads reports until the state satisfies the condition; false when the
    // demo ended or the time ran out first.
    template <class F> bool WaitFor(F condition)
    {
        using namespace std::chrono_literals;
        auto deadline = std::chrono::steady_clock::now() + kGuiWait;
        for (;;) {
            Parse();
            if (condition(m_state))
                return true;
            if (std::chrono::steady_clock::now() >= deadline || !m_child.Pump(50ms)) {
                Parse();
                return condition(m_state);
            }
        }
    }

    const CDemoState& State() const { return m_state; }
    std::string Output() const { return m_child.Output() + m_child.ErrorOutput(); }
    CProcessResult Finish() { return m_child.Finish(kGuiWait); }

private:
    void Parse()
    {
        const std::string& out = m_child.Output();
        std::size_t end;
        while ((end = out.find('\n', m_parsed)) != std::string::npos) {
            std::istringstream line(out.substr(m_parsed, end - m_parsed));
            m_parsed = end + 1;
            std::string event;
            line >> event;
            int a = 0, b = 0, c = 0, d = 0;
            if (event == "created" && line >> a >> b >> c >> d) {
                m_state.created = true;
                m_state.rect = {a, b, a + c, b + d};
            } else if (event == "moved" && line >> a >> b) {
                m_state.rect =
                    OffsetRect(m_state.rect, a - m_state.rect.left, b - m_state.rect.top);
            } else if (event == "sized" && line >> a >> b) {
                m_state.rect.right = m_state.rect.left + a;
                m_state.rect.bottom = m_state.rect.top + b;
            } else if (std::uint64_t shapes = 0;
                       event == "painted" && line >> a && line >> event >> shapes) {
                m_state.paints = a;
                m_state.shapes = shapes;
            } else if (event == "compositor" && line >> a) {
                m_state.compositor = a != 0;
            } else if (event == "closed") {
                m_state.closed = true;
            }
        }
    }

    std::string m_path;
    CChildProcess m_child;
    std::size_t m_parsed = 0;
    CDemoState m_state;
};

inline std::string Describe(const RECT& rect)
{
    std::ostringstream text;
    text << rect.left << "," << rect.top << " " << rect.Width() << "x" << rect.Height();
    return text.str();
}

} // namespace zk::test
