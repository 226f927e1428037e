#include "platform/session_end.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <X11/Xlib.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace zk {

namespace {

std::function<int()> g_onEnd;
std::atomic<bool> g_ended{false};
QtMessageHandler g_previousHandler = nullptr;

sigset_t EndSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

std::atomic<int> g_endCode{0};

// A second way of ending (the display lost after a signal) keeps the status
// the first one answered.
int End()
{
    if (g_ended.exchange(true))
        return g_endCode.load();
    g_endCode = g_onEnd ? g_onEnd() : 0;
    return g_endCode.load();
}

// The window system cannot go on without its display: save, then leave.
[[noreturn]] void EndWithoutDisplay()
{
    int code = End();
    std::fflush(nullptr);
    std::_Exit(code);
}

int OnDisplayIoError(Display*)
{
    EndWithoutDisplay();
}

void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The toolkit reports a broken display connection and then ends the
    // process; it is caught here first.
    if (message.contains(QStringLiteral("X11 connection broke")) ||
        message.contains(QStringLiteral("XIO:")))
        EndWithoutDisplay();
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

void BlockEndSignals()
{
    sigset_t set = EndSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool WatchSessionEnd(std::function<int()> onEnd)
{
    g_onEnd = std::move(onEnd);
    sigset_t set = EndSignals();
    int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        return false;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [fd] {
        signalfd_siginfo info;
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        End();
    });
    // Logging out: the session manager asks every program to commit its data.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp,
                     [](QSessionManager&) { End(); });
    g_previousHandler = qInstallMessageHandler(OnToolkitMessage);
    XSetIOErrorHandler(OnDisplayIoError);
    return true;
}

} // namespace zk
