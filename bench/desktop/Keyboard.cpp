#include "Keyboard.h"

#include <Engine.h>
#include <keyboard/PianoMain.h>
#include <resources/Resources.h>
#include <skin/Skin.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace tastavia::bench {

namespace {

using Clock = std::chrono::steady_clock;
using keyboard::DeviceMessageEvent;
using keyboard::TKeyboard;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

void sendMouse(TKeyboard &window, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, window.mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
}

PressFigures measurePresses(TKeyboard &window, int presses)
{
    PressFigures figures;
    // A device error report opens a modal box that nobody here would close.
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [&figures] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box && box->isVisible() && box->objectName() == QLatin1String("DeviceErrorBox")) {
                ++figures.errorBoxes;
                box->reject();
            }
        }
    });
    dismiss.start(5);
    skin::ImageControl *key = window.keyOfNote(60);
    // Low on the white key, clear of the black keys beside it.
    const QPoint pos(key->geometry().center().x(), key->geometry().bottom() - 8);
    std::vector<double> us;
    us.reserve(presses);
    for (int i = 0; i < presses; ++i) {
        const auto start = Clock::now();
        sendMouse(window, QEvent::MouseButtonPress, pos, Qt::LeftButton);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (window.HeldKey() != key)
            ++figures.refused;
        sendMouse(window, QEvent::MouseButtonRelease, pos, Qt::NoButton);
        // The window repaints and the audio thread renders between presses,
        // as they would between a player's clicks; a thousand presses a
        // second is already far beyond any hand.
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    figures.presses = presses;
    figures.medianUs = percentile(us, 0.5);
    figures.p99Us = percentile(us, 0.99);
    return figures;
}

// Counts the device messages the window has taken off its queue; it lets
// each one through to the window's own dispatch.
class HandledCounter : public QObject
{
public:
    std::atomic<long> handled{0};

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == DeviceMessageEvent::eventType())
            handled.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
};

// Posts note ons and offs across the keyboard at `rate` per second for one
// second from another thread, as the library's input thread does, while the
// window runs its ordinary event loop.
IncomingRate offer(TKeyboard &window, HandledCounter &counter, int rate)
{
    constexpr double BoundMs = 100; // the window may fall this far behind
    IncomingRate result{rate, 0, 0, 0, false};
    counter.handled = 0;
    KorvaWindow *handle = window.deviceHandle();
    QEventLoop loop;
    std::thread poster([&] {
        long maxBacklog = 0;
        const auto start = Clock::now();
        for (;;) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            if (elapsed >= 1.0)
                break;
            const long due = long(rate * elapsed) + 1;
            while (result.posted < due) {
                const long i = result.posted++;
                const std::uint32_t note = 36 + std::uint32_t(i / 2 % 61);
                const std::uint32_t message = (i % 2 == 0 ? 0x7F0090u : 0x80u) | note << 8;
                handle->post(handle->context, KORVA_MSG_HITKEY, message, 0);
            }
            maxBacklog = std::max(maxBacklog, result.posted - counter.handled.load());
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        const auto lastPost = Clock::now();
        while (counter.handled.load() < result.posted && Clock::now() - lastPost < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        result.drainMs = std::chrono::duration<double, std::milli>(Clock::now() - lastPost).count();
        result.maxBacklogMs = 1000.0 * double(maxBacklog) / rate;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    poster.join();
    result.keptUp = result.maxBacklogMs <= BoundMs && result.drainMs <= BoundMs;
    return result;
}

} // namespace

KeyboardFigures measureKeyboard(const std::string &clipDirectory, int presses)
{
    KeyboardFigures figures;
    QDir::setCurrent(QString::fromStdString(clipDirectory));
    IsNT5 = true;
    resources::installFontSubstitutions();
    TKeyboard window;
    window.FormCreate();
    if (!korvalink::Engine::instance().connected()) {
        figures.error = "the device library did not connect";
        return figures;
    }
    window.show();
    QElapsedTimer shown;
    shown.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && shown.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    figures.press = measurePresses(window, presses);

    HandledCounter counter;
    window.installEventFilter(&counter);
    for (int rate : {1000, 5000, 20000, 50000, 100000}) {
        figures.incoming.push_back(offer(window, counter, rate));
        if (!figures.incoming.back().keptUp)
            break; // a faster rate only takes longer to drain
    }
    window.removeEventFilter(&counter);
    return figures;
}

} // namespace tastavia::bench
