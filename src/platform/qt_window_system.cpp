#include "platform/qt_window_system.h"

#include "platform/menu.h"
#include "platform/message_loop.h"
#include "platform/qt_window_lookup.h"
#include "platform/window.h"
#include "platform/x11_display.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QActionGroup>
#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyleHints>
#include <QToolTip>
#include <QTranslator>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include <xcb/xproto.h>

namespace zk {

namespace {

QString ToQString(const std::wstring& text)
{
    return QString::fromStdWString(text);
}

RECT ToRect(const QRect& rect)
{
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

POINT ToPoint(const QPointF& point)
{
    QPoint whole = point.toPoint();
    return {whole.x(), whole.y()};
}

std::uint32_t KeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    std::uint32_t keys = 0;
    if (buttons & Qt::LeftButton)
        keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        keys |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        keys |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier)
        keys |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        keys |= MK_CONTROL;
    return keys;
}

bool ToButton(Qt::MouseButton qtButton, CMouseButton& button)
{
    switch (qtButton) {
    case Qt::LeftButton:
        button = CMouseButton::Left;
        return true;
    case Qt::RightButton:
        button = CMouseButton::Right;
        return true;
    case Qt::MiddleButton:
        button = CMouseButton::Middle;
        return true;
    default:
        return false;
    }
}

Qt::Edges EdgesOf(int hitCode)
{
    switch (hitCode) {
    case HTLEFT:
        return Qt::LeftEdge;
    case HTRIGHT:
        return Qt::RightEdge;
    case HTTOP:
        return Qt::TopEdge;
    case HTBOTTOM:
        return Qt::BottomEdge;
    case HTTOPLEFT:
        return Qt::TopEdge | Qt::LeftEdge;
    case HTTOPRIGHT:
        return Qt::TopEdge | Qt::RightEdge;
    case HTBOTTOMLEFT:
        return Qt::BottomEdge | Qt::LeftEdge;
    case HTBOTTOMRIGHT:
        return Qt::BottomEdge | Qt::RightEdge;
    default:
        return {};
    }
}

Qt::CursorShape ToShape(CCursor cursor)
{
    switch (cursor) {
    case CCursor::Hand:
        return Qt::PointingHandCursor;
    case CCursor::SizeWE:
        return Qt::SizeHorCursor;
    case CCursor::SizeNS:
        return Qt::SizeVerCursor;
    case CCursor::SizeNWSE:
        return Qt::SizeFDiagCursor;
    case CCursor::SizeNESW:
        return Qt::SizeBDiagCursor;
    case CCursor::Arrow:
        break;
    }
    return Qt::ArrowCursor;
}

int ToVirtualKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    switch (qtKey) {
    case Qt::Key_Menu:
        return VK_APPS;
    case Qt::Key_F10:
        return modifiers == Qt::ShiftModifier ? VK_APPS : 0;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_End:
        return VK_END;
    default:
        return 0;
    }
}

// The native window of one CWindow. It only translates: events go to the
// CWindow, the picture comes from it.
class CQtWindow : public QWidget
{
public:
    CQtWindow(CWindow& window, QWidget* owner, const CQtWindowSystem& system,
              std::uint32_t /*style*/, std::uint32_t exStyle)
        : QWidget(owner, WindowFlags(owner, exStyle)), m_window(&window), m_system(system)
    {
        // The window paints every pixel itself, alpha included, so nothing
        // of a background colour may show before or between paints.
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_DeleteOnClose, false);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        // The main window stays on top without being active most of the
        // time; its tooltips must show all the same.
        setAttribute(Qt::WA_AlwaysShowToolTips);
    }

    void Detach() { m_window = nullptr; }

    // The native window was destroyed by somebody else (a window manager,
    // xdotool): the window goes as if it had been closed, so that its
    // owner runs its normal end.
    void NativeWindowGone()
    {
        if (m_window)
            m_window->DestroyWindow();
    }

    void ShowBitmap(const std::uint32_t* pixels, int width, int height, std::size_t stride)
    {
        // The picture is copied into the one kept since the last, which is
        // made again only when the size changes.
        if (m_image.width() != width || m_image.height() != height)
            m_image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        if (m_image.isNull())
            return;
        auto* source = reinterpret_cast<const uchar*>(pixels);
        const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(std::uint32_t);
        for (int y = 0; y < height; ++y)
            std::memcpy(m_image.scanLine(y), source + static_cast<std::size_t>(y) * stride,
                        rowBytes);
        UpdateShape(false);
        if (isVisible())
            repaint();
    }

    // A compositing manager came or went: the window is cut again, to the
    // picture it shows.
    void CompositorChanged()
    {
        // A window that has shown nothing yet is cut with its first picture.
        if (!m_image.isNull())
            UpdateShape(true);
    }

    bool Minimized() const { return isMinimized(); }

    void StartTimer(int id, unsigned elapseMs)
    {
        StopTimer(id);
        int qtId = startTimer(static_cast<int>(elapseMs), Qt::PreciseTimer);
        if (qtId != 0)
            m_timers[qtId] = id;
    }

    void StopTimer(int id)
    {
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second == id) {
                killTimer(it->first);
                m_timers.erase(it);
                return;
            }
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        // Between a resize and the window's next picture the old one is
        // smaller than the window: what it does not cover stays see-through
        // instead of showing what the backing store held.
        if (m_image.size() != size())
            painter.fillRect(rect(), Qt::transparent);
        if (!m_image.isNull())
            painter.drawImage(0, 0, m_image);
    }

    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        // The window's parts are drawn, not widgets: the window says which
        // text belongs where, and the tip goes once the pointer leaves
        // that rectangle.
        auto* help = static_cast<QHelpEvent*>(event);
        std::wstring text;
        RECT area;
        if (m_window && m_window->PeerToolTip(ToPoint(help->globalPos()), text, area)) {
            QPoint topLeft = mapFromGlobal(QPoint(area.left, area.top));
            QToolTip::showText(help->globalPos(), ToQString(text), this,
                               QRect(topLeft, QSize(int(area.Width()), int(area.Height()))));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }

    void mousePressEvent(QMouseEvent* event) override { Button(event, true); }
    void mouseReleaseEvent(QMouseEvent* event) override { Button(event, false); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { Button(event, true); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (m_window)
            m_window->PeerMouseMove(ToPoint(event->globalPosition()),
                                    KeyFlags(event->buttons(), event->modifiers()));
    }

    void wheelEvent(QWheelEvent* event) override
    {
        if (m_window && event->angleDelta().y() != 0)
            m_window->PeerMouseWheel(event->angleDelta().y(), ToPoint(event->globalPosition()),
                                     KeyFlags(event->buttons(), event->modifiers()));
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        int key = ToVirtualKey(event->key(), event->modifiers());
        if (m_window && key != 0)
            m_window->PeerKeyDown(key);
    }

    void moveEvent(QMoveEvent*) override { ReportGeometry(); }
    void resizeEvent(QResizeEvent*) override { ReportGeometry(); }

    void closeEvent(QCloseEvent* event) override
    {
        // Closing is the program's decision: the request goes to the window
        // as a close command.
        event->ignore();
        if (m_window)
            m_window->PeerCloseRequested();
    }

    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::ActivationChange && !isActiveWindow() && m_window)
            m_window->PeerDeactivated();
        QWidget::changeEvent(event);
    }

    void timerEvent(QTimerEvent* event) override
    {
        auto it = m_timers.find(event->timerId());
        if (m_window && it != m_timers.end())
            m_window->PeerTimer(it->second);
    }

private:
    static Qt::WindowFlags WindowFlags(const QWidget* owner, std::uint32_t exStyle)
    {
        Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
        // An owned window stays above its owner. A window manager stacks a
        // transient window in its own layer, not in its owner's, so the
        // popup of a window kept on top must be kept on top too, or it opens
        // underneath, out of the user's reach.
        bool ownerOnTop = owner && (owner->windowFlags() & Qt::WindowStaysOnTopHint);
        if ((exStyle & WS_EX_TOPMOST) || ownerOnTop)
            flags |= Qt::WindowStaysOnTopHint;
        return flags;
    }

    void Button(QMouseEvent* event, bool down)
    {
        CMouseButton button;
        if (!m_window || !ToButton(event->button(), button))
            return;
        m_window->PeerMouseButton(button, down, ToPoint(event->globalPosition()),
                                  KeyFlags(event->buttons(), event->modifiers()));
    }

    void ReportGeometry()
    {
        if (m_window)
            m_window->PeerGeometryChanged(ToRect(geometry()));
    }

    // Without a compositing manager alpha is not blended: the window is cut
    // to the pixels that are at least half opaque, so that round corners
    // stay see-through (the cut shape also takes no input). With one, only
    // the input is cut: as with layered windows, the pointer goes through
    // every pixel that is fully transparent.
    //
    // The outline of a window's picture depends only on its size, so the
    // shape is cut once a size (and again when a compositing manager comes
    // or goes), not on every picture: scanning the picture and sending the
    // shape cost as much as the paint itself.
    void UpdateShape(bool compositorChanged)
    {
        bool composited = m_system.HasCompositor();
        if (!compositorChanged && m_shapeSize == m_image.size() && m_shapeComposited == composited)
            return;
        m_system.CountShape();
        if (composited) {
            m_shapeSize = m_image.size();
            m_shapeComposited = composited;
            if (m_shaped) {
                clearMask();
                m_shaped = false;
            }
            auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
            if (x11)
                m_inputShaped = SetInputShape(x11->display(), winId(), VisibleRuns(m_image));
            return;
        }
        QImage alpha = m_image.createAlphaMask(Qt::ThresholdAlphaDither | Qt::ThresholdDither);
        // Remembered only once cut, so that a mask that could not be made is
        // tried again with the next picture.
        if (alpha.isNull())
            return;
        m_shapeSize = m_image.size();
        m_shapeComposited = composited;
        setMask(QBitmap::fromImage(alpha));
        m_shaped = true;
        // The input cut for a compositor that has gone would hold the
        // window's input to the runs of an old size: the whole window takes
        // input again, inside the cut shape.
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (m_inputShaped && x11)
            SetInputShape(x11->display(), winId(), {RECT{0, 0, m_image.width(), m_image.height()}});
    }

    // The runs of pixels along each row that are not fully transparent.
    static std::vector<RECT> VisibleRuns(const QImage& image)
    {
        std::vector<RECT> runs;
        for (int y = 0; y < image.height(); ++y) {
            auto row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
            int x = 0;
            while (x < image.width()) {
                while (x < image.width() && (row[x] >> 24) == 0)
                    ++x;
                int start = x;
                while (x < image.width() && (row[x] >> 24) != 0)
                    ++x;
                if (x > start)
                    runs.push_back({start, y, x, y + 1});
            }
        }
        return runs;
    }

    CWindow* m_window;
    const CQtWindowSystem& m_system;
    QImage m_image;
    bool m_shaped = false;
    bool m_inputShaped = false;
    // What the shape was last cut for; an invalid size before the first cut.
    QSize m_shapeSize;
    bool m_shapeComposited = false;
    std::map<int, int> m_timers; // Qt's timer id -> the window's
};

class CQtPeer : public IWindowPeer
{
public:
    explicit CQtPeer(CQtWindow* widget) : m_widget(widget) {}

    ~CQtPeer() override
    {
        // The peer may go from inside one of the widget's own event
        // handlers, so the widget is let go later, by the loop.
        if (!m_widget)
            return;
        m_widget->Detach();
        m_widget->hide();
        m_widget->deleteLater();
    }

    QWidget* Widget() const { return m_widget; }

    void SetGeometry(const RECT& rect) override
    {
        if (m_widget)
            m_widget->setGeometry(rect.left, rect.top, static_cast<int>(rect.Width()),
                                  static_cast<int>(rect.Height()));
    }
    void SetVisible(bool visible) override
    {
        if (!m_widget)
            return;
        if (visible && m_widget->isMinimized())
            m_widget->showNormal();
        else
            m_widget->setVisible(visible);
    }
    bool IsVisible() const override { return m_widget && m_widget->isVisible(); }
    void Minimize() override
    {
        if (m_widget)
            m_widget->showMinimized();
    }
    void Restore() override
    {
        if (m_widget)
            m_widget->showNormal();
    }
    bool IsMinimized() const override { return m_widget && m_widget->Minimized(); }
    // Qt disables every window a widget owns along with it, so a popup
    // whose owner is disabled for its modal run would take no input at all.
    // The CWindow already drops the input of a disabled window, so the
    // widget itself stays enabled.
    void SetEnabled(bool /*enabled*/) override {}
    void SetMinimumSize(SIZE size) override
    {
        if (m_widget)
            m_widget->setMinimumSize(size.cx, size.cy);
    }
    void Activate() override
    {
        if (!m_widget)
            return;
        m_widget->raise();
        m_widget->activateWindow();
    }
    bool IsActive() const override { return m_widget && m_widget->isActiveWindow(); }
    void ShowBitmap(const std::uint32_t* pixels, int width, int height, std::size_t stride) override
    {
        if (m_widget)
            m_widget->ShowBitmap(pixels, width, height, stride);
    }
    bool StartSystemMove() override
    {
        return m_widget && m_widget->windowHandle() && m_widget->windowHandle()->startSystemMove();
    }
    bool StartSystemResize(int hitCode) override
    {
        return m_widget && m_widget->windowHandle() &&
               m_widget->windowHandle()->startSystemResize(EdgesOf(hitCode));
    }
    void SetCursor(CCursor cursor) override
    {
        if (m_widget)
            m_widget->setCursor(ToShape(cursor));
    }
    void StartTimer(int id, unsigned elapseMs) override
    {
        if (m_widget)
            m_widget->StartTimer(id, elapseMs);
    }
    void StopTimer(int id) override
    {
        if (m_widget)
            m_widget->StopTimer(id);
    }

private:
    QPointer<CQtWindow> m_widget;
};

void BuildMenu(QMenu& target, const CMenu& menu)
{
    // The radio items of one menu form one exclusive group, which the style
    // draws with radio marks instead of check boxes.
    QActionGroup* radios = nullptr;
    for (const CMenu::Item& item : menu.GetItems()) {
        if (item.separator) {
            target.addSeparator();
            continue;
        }
        if (item.subMenu) {
            QMenu* sub = target.addMenu(ToQString(item.text));
            sub->setEnabled(item.enabled);
            BuildMenu(*sub, *item.subMenu);
            continue;
        }
        QAction* action = target.addAction(ToQString(item.text));
        action->setData(item.id);
        action->setEnabled(item.enabled);
        if (item.radio) {
            if (!radios)
                radios = new QActionGroup(&target);
            radios->addAction(action);
        }
        if (item.checked || item.radio) {
            action->setCheckable(true);
            action->setChecked(item.checked);
        }
    }
}

} // namespace

// Every window's widget carries its window in a property.
QWidget* WidgetOfWindow(CWindow* window)
{
    if (!window)
        return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->property("zkWindow").value<void*>() == window)
            return top;
    }
    return nullptr;
}

// Watches for top-level windows of ours that X destroys without the
// toolkit's doing: it would go on with a widget that has no window.
class CDestroyWatch : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) != XCB_DESTROY_NOTIFY)
            return false;
        auto window =
            static_cast<WId>(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* ours = dynamic_cast<CQtWindow*>(top);
            if (!ours || top->internalWinId() != window)
                continue;
            // Acted on from the loop, outside the toolkit's event handling.
            QPointer<CQtWindow> alive(ours);
            QMetaObject::invokeMethod(
                qApp,
                [alive] {
                    if (alive)
                        alive->NativeWindowGone();
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

// Follows the compositing manager's selection from the server's events, so
// that each window's shape knows whether alpha is blended without a round
// trip to the server; a change cuts every window again.
class CCompositorFollower : public QAbstractNativeEventFilter
{
public:
    // Starts watching; false when the server cannot tell, and the state is
    // then asked of the server each time.
    bool Start(_XDisplay* display)
    {
        if (!WatchCompositingManager(display, m_watch))
            return false;
        // Asked once after the watch began, so that no change is missed.
        m_composited = HasCompositingManager(display);
        m_watching = true;
        return true;
    }

    bool Watching() const { return m_watching; }
    bool Composited() const { return m_composited; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        bool owned = false;
        if (!m_watching || eventType != "xcb_generic_event_t" ||
            !ReadCompositorChange(m_watch, message, owned) || owned == m_composited)
            return false;
        m_composited = owned;
        // Acted on from the loop, outside the toolkit's event handling.
        QMetaObject::invokeMethod(
            qApp,
            [] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (auto* ours = dynamic_cast<CQtWindow*>(top))
                        ours->CompositorChanged();
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    CCompositorWatch m_watch;
    bool m_watching = false;
    bool m_composited = false;
};

struct CQtWindowSystem::Impl
{
    std::unique_ptr<QApplication> app;
    CDestroyWatch destroyWatch;
    CCompositorFollower compositor;
    std::uint64_t shapesCut = 0;
    bool quitRequested = false;
    int quitCode = 0;
    struct Nested
    {
        const bool* done;
        QEventLoop* loop;
    };
    std::vector<Nested> nested;
};

CQtWindowSystem::CQtWindowSystem() : m_impl(std::make_unique<Impl>()) {}

CQtWindowSystem::~CQtWindowSystem()
{
    if (HasWindowSystem() && &GetWindowSystem() == this)
        SetWindowSystem(nullptr);
    m_impl->app.reset();
}

std::unique_ptr<CQtWindowSystem> CQtWindowSystem::Start(int& argc, char** argv, std::string& error)
{
    // The toolkit would abort on a display it cannot open; try it first.
    if (!CanOpenDisplay(error))
        return nullptr;

    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // One pixel of the skin is one pixel of the screen.
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    std::unique_ptr<CQtWindowSystem> system(new CQtWindowSystem());
    system->m_impl->app = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallToolkitTranslations();
    system->m_impl->app->installNativeEventFilter(&system->m_impl->destroyWatch);
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        x11 && system->m_impl->compositor.Start(x11->display()))
        system->m_impl->app->installNativeEventFilter(&system->m_impl->compositor);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     qApp, [] {
                         if (CMessageLoop* loop = GetMessageLoop())
                             loop->OnIdle();
                     });
    return system;
}

bool CQtWindowSystem::HasCompositor() const
{
    if (m_impl->compositor.Watching())
        return m_impl->compositor.Composited();
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 && HasCompositingManager(x11->display());
}

void CQtWindowSystem::CountShape() const
{
    ++m_impl->shapesCut;
}

std::uint64_t CQtWindowSystem::ShapesCut() const
{
    return m_impl->shapesCut;
}

std::unique_ptr<IWindowPeer> CQtWindowSystem::CreatePeer(CWindow& window, CWindow* owner,
                                                         const std::wstring& title,
                                                         std::uint32_t style, std::uint32_t exStyle)
{
    auto* widget = new CQtWindow(window, WidgetOfWindow(owner), *this, style, exStyle);
    widget->setProperty("zkWindow", QVariant::fromValue<void*>(&window));
    widget->setWindowTitle(ToQString(title));
    return std::make_unique<CQtPeer>(widget);
}

void CQtWindowSystem::Post(std::function<void()> task)
{
    QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
}

int CQtWindowSystem::RunLoop()
{
    if (m_impl->quitRequested)
        return m_impl->quitCode;
    int code = QApplication::exec();
    return m_impl->quitRequested ? m_impl->quitCode : code;
}

void CQtWindowSystem::Quit(int code)
{
    m_impl->quitRequested = true;
    m_impl->quitCode = code;
    QCoreApplication::exit(code);
}

void CQtWindowSystem::RunNestedLoop(const bool& done)
{
    if (done || m_impl->quitRequested)
        return;
    QEventLoop loop;
    m_impl->nested.push_back({&done, &loop});
    loop.exec();
    m_impl->nested.pop_back();
}

void CQtWindowSystem::WakeNestedLoops()
{
    for (const Impl::Nested& nested : m_impl->nested) {
        if (*nested.done)
            nested.loop->exit(0);
    }
}

POINT CQtWindowSystem::GetCursorPos() const
{
    QPoint pos = QCursor::pos();
    return {pos.x(), pos.y()};
}

std::vector<CMonitorInfo> CQtWindowSystem::GetMonitors() const
{
    std::vector<CMonitorInfo> monitors;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        monitors.push_back({ToRect(primary->geometry()), ToRect(primary->availableGeometry())});
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            monitors.push_back({ToRect(screen->geometry()), ToRect(screen->availableGeometry())});
    }
    if (monitors.empty())
        monitors.push_back({{0, 0, 1024, 768}, {0, 0, 1024, 768}});
    return monitors;
}

unsigned CQtWindowSystem::GetDoubleClickTime() const
{
    return static_cast<unsigned>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

void CQtWindowSystem::Beep()
{
    QApplication::beep();
}

bool CQtWindowSystem::SetClipboardText(const std::wstring& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(ToQString(text));
    return true;
}

std::wstring CQtWindowSystem::GetClipboardText() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text().toStdWString() : std::wstring();
}

int CQtWindowSystem::MessageBox(CWindow* owner, const std::wstring& text, const std::wstring& title,
                                std::uint32_t type)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONWARNING:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QMessageBox box(icon, ToQString(title), ToQString(text), QMessageBox::NoButton,
                    WidgetOfWindow(owner));
    // The standard buttons carry the toolkit's own (Japanese) texts.
    if ((type & MB_TYPEMASK) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        // Left to itself the toolkit makes いいえ the Escape button, and the
        // title bar's close button too: a question the user only put away
        // would read as an answer. A hidden button of its own takes both.
        QAbstractButton* dismiss = box.button(QMessageBox::Cancel);
        dismiss->hide();
        box.setEscapeButton(dismiss);
        box.setDefaultButton(QMessageBox::Yes);
        box.exec();
        // No button at all: the loop was ended under the box (the session
        // ended while it was open).
        QAbstractButton* clicked = box.clickedButton();
        if (clicked == box.button(QMessageBox::Yes))
            return IDYES;
        return clicked == box.button(QMessageBox::No) ? IDNO : IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

bool InstallToolkitTranslations()
{
    constexpr const char* kCatalog = "qtbase_ja";
    if (!QCoreApplication::instance())
        return false;
    // Once per application: a second translator would only shadow the first.
    static QPointer<QTranslator> installed;
    if (installed)
        return true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QString::fromLatin1(kCatalog),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    installed = translator;
    return true;
}

int CQtWindowSystem::TrackPopupMenu(const CMenu& menu, POINT screen, CWindow* owner)
{
    QMenu popup(WidgetOfWindow(owner));
    BuildMenu(popup, menu);
    QAction* chosen = popup.exec(QPoint(screen.x, screen.y));
    if (!chosen || !chosen->data().isValid())
        return 0;
    return chosen->data().toInt();
}

} // namespace zk
