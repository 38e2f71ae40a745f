// A monkey over the keyboard, patch selection and advert pages windows:
// long random runs of pointer and key events, delivered the way the window
// system delivers them (implicit grabs, double clicks from the timing, modal
// boxes blocking the rest), with the device refusing at random, and the
// windows' rules checked after every event. The seed is printed at the start;
// TASTAVIA_SEED=<seed> replays the run.
#include "../korvalink/Listening.h"

#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <device/Instruments.h>
#include <keyboard/PianoMain.h>
#include <patches/Patch.h>
#include <patches/PatchState.h>
#include <platform/desktop/Desktop.h>
#include <promo/AD.h>
#include <skin/Skin.h>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <bitset>
#include <deque>
#include <optional>
#include <random>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;
using tastavia::korvalink::Engine;
using tastavia::patches::CurrentPatch;
using tastavia::patches::QuickPatches;
using tastavia::patches::TPatchSelect;
using tastavia::promo::TADPlayer;
namespace device = tastavia::device;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
constexpr bool Sanitized = __has_feature(address_sanitizer);
#else
constexpr bool Sanitized = false;
#endif
// The sanitizers make every event several times dearer; the seed replays
// the same opening either way.
constexpr int FakeEvents = Sanitized ? 30000 : 100000;
constexpr int RealEvents = Sanitized ? 3000 : 10000;

struct Key {
    int key;
    bool keypad;
    const char *text;
};
// The note and quick-patch keys, the four shortcuts' letters and F1, the
// pages' arrows, the lists' Enter and the selection window's Escape, and a
// few keys that mean nothing.
const Key Keys[] = {
    {Qt::Key_Z, false, "z"}, {Qt::Key_X, false, "x"}, {Qt::Key_C, false, "c"}, {Qt::Key_V, false, "v"},
    {Qt::Key_B, false, "b"}, {Qt::Key_N, false, "n"}, {Qt::Key_M, false, "m"}, {Qt::Key_Comma, false, ","},
    {Qt::Key_Period, false, "."}, {Qt::Key_Slash, false, "/"}, {Qt::Key_A, false, "a"}, {Qt::Key_S, false, "s"},
    {Qt::Key_D, false, "d"}, {Qt::Key_F, false, "f"}, {Qt::Key_G, false, "g"}, {Qt::Key_H, false, "h"},
    {Qt::Key_J, false, "j"}, {Qt::Key_K, false, "k"}, {Qt::Key_L, false, "l"}, {Qt::Key_Semicolon, false, ";"},
    {Qt::Key_Apostrophe, false, "'"}, {Qt::Key_Q, false, "q"}, {Qt::Key_W, false, "w"}, {Qt::Key_E, false, "e"},
    {Qt::Key_R, false, "r"}, {Qt::Key_T, false, "t"}, {Qt::Key_Y, false, "y"}, {Qt::Key_U, false, "u"},
    {Qt::Key_I, false, "i"}, {Qt::Key_O, false, "o"}, {Qt::Key_P, false, "p"}, {Qt::Key_BracketLeft, false, "["},
    {Qt::Key_BracketRight, false, "]"}, {Qt::Key_0, true, "0"}, {Qt::Key_Period, true, "."}, {Qt::Key_1, true, "1"},
    {Qt::Key_5, true, "5"}, {Qt::Key_1, false, "1"}, {Qt::Key_2, false, "2"}, {Qt::Key_3, false, "3"},
    {Qt::Key_4, false, "4"}, {Qt::Key_5, false, "5"}, {Qt::Key_6, false, "6"}, {Qt::Key_7, false, "7"},
    {Qt::Key_8, false, "8"}, {Qt::Key_9, false, "9"}, {Qt::Key_0, false, "0"}, {Qt::Key_Insert, false, ""},
    {Qt::Key_Home, false, ""}, {Qt::Key_PageUp, false, ""}, {Qt::Key_Delete, false, ""}, {Qt::Key_End, false, ""},
    {Qt::Key_PageDown, false, ""}, {Qt::Key_F1, false, ""}, {Qt::Key_F5, false, ""}, {Qt::Key_Up, false, ""},
    {Qt::Key_Down, false, ""}, {Qt::Key_Left, false, ""}, {Qt::Key_Right, false, ""}, {Qt::Key_Return, false, "\r"},
    {Qt::Key_Enter, true, "\r"}, {Qt::Key_Escape, false, ""}, {Qt::Key_Space, false, " "}, {Qt::Key_Tab, false, "\t"},
};
constexpr int KeyCount = int(std::size(Keys));

// Quick patch of a virtual-key code, 0 for none.
int patchOfCode(std::uint16_t code)
{
    constexpr std::uint16_t PatchKeys[16] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,
                                             0x39, 0x30, 0x2D, 0x24, 0x21, 0x2E, 0x23, 0x22};
    for (int k = 0; k < 16; ++k)
        if (PatchKeys[k] == code)
            return k + 1;
    return 0;
}

// What the device took: the notes it was left sounding and the last
// instrument it accepted.
struct Ledger {
    std::bitset<128> sounding;
    std::optional<device::ProgramWord> program;

    void take(std::uint32_t message)
    {
        const std::uint32_t status = message & 0xF0;
        const std::size_t note = (message >> 8) & 0x7F;
        if (status == 0x90 && ((message >> 16) & 0x7F) != 0)
            sounding.set(note);
        else if (status == 0x80 || status == 0x90)
            sounding.reset(note);
        else if (status == 0xC0)
            program = message;
    }
};

// The offscreen platform says on every show that it cannot shape or raise
// windows; a run would drown in it.
QtMessageHandler passOn = nullptr;
void quietPlatform(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        passOn(type, context, message);
}

QMessageBox *openBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

} // namespace

class MonkeyTest : public QObject
{
    Q_OBJECT

    tastavia::testing::ClipDirectory clips;
    std::uint32_t seed = 0;
    std::unique_ptr<TKeyboard> keyboard;
    std::unique_ptr<TPatchSelect> select;
    std::unique_ptr<TADPlayer> ad;

    std::mt19937 rng;
    int events = 0;
    int target = 0;
    bool finishing = false;
    QString failure;
    std::deque<QString> recent;
    Ledger ledger;
    // Quick patches whose key went down in the keyboard window without a
    // plain key-up since: their image may show pressed.
    std::bitset<17> patchKeyHeld;
    // The quick patch a left press of the mouse began on, until the left
    // mouse key goes up.
    int patchUnderLeftPress = 0;
    std::function<void()> betweenEvents;
    // How far a run reached: a monkey whose events all went nowhere would
    // keep every rule.
    struct {
        int boxes = 0, selections = 0, commits = 0, minimised = 0, pagesReopened = 0, pageTurns = 0, drags = 0;
    } seen;
    QPointer<QMessageBox> lastBox;
    bool selectionWasShown = false;
    std::array<device::ProgramWord, 17> slotsBefore{};
    int lastPage = 0;

    // The pointer and the keys as the window system sees them.
    Qt::MouseButtons buttons;
    QPointer<QWindow> grab;
    QPoint last;
    ulong timestamp = 1000;
    QList<int> keysDown; // indexes into Keys

    int pick(int n) { return int(rng() % unsigned(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    void note(const QString &what)
    {
        recent.push_back(QStringLiteral("%1: %2").arg(events).arg(what));
        if (recent.size() > 40)
            recent.pop_front();
    }

    QList<QWidget *> windows() const
    {
        QList<QWidget *> shown;
        for (QWidget *w : {static_cast<QWidget *>(keyboard.get()), static_cast<QWidget *>(select.get()),
                           static_cast<QWidget *>(ad.get())})
            if (w->isVisible() && !w->isMinimized())
                shown << w;
        return shown;
    }

    // A point worth pressing in a window: its keys, bars, lists and switches
    // mostly, anywhere sometimes.
    QPoint somewhere(QWidget *w)
    {
        auto in = [this](int x, int y, int width, int height) { return QPoint(x + pick(width), y + pick(height)); };
        if (w == keyboard.get()) {
            switch (pick(8)) {
            case 0: case 1: case 2: return in(19, 95, 646, 83); // keys
            case 3: return in(179, 49, 448, 28);                // quick patches
            case 4: return in(645, 37, 52, 52);                 // select patch
            case 5: return in(20, 8, 90, 75);                   // switches, logo, label
            default: return in(0, 0, w->width(), w->height());
            }
        }
        if (w == select.get()) {
            switch (pick(5)) {
            case 0: case 1: return in(21, 23, 275, 250); // the lists
            case 2: return in(216, 185, 72, 92);          // OK, Cancel, Apply
            default: return in(0, 0, w->width(), w->height());
            }
        }
        if (w == ad.get() && chance(50))
            return in(208, 228, 27, 123); // the page switches and close
        return in(0, 0, w->width(), w->height());
    }

    // A left release strictly inside the keyboard's close switch would end
    // the program; it lands on the switch's left column instead, which only
    // restores the picture.
    QPoint sparingClose(QWindow *window, QPoint pos, Qt::MouseButton button)
    {
        if (button != Qt::LeftButton || window != keyboard->windowHandle() || keyboard->dragging())
            return pos;
        QWidget *close = keyboard->control(QStringLiteral("ImgClose"));
        QWidget *target = keyboard->capture() ? keyboard->capture() : keyboard->controlAt(pos);
        if (target == close && QRect(1, 1, close->width() - 1, close->height() - 1).contains(pos - close->pos()))
            pos.setX(close->x());
        return pos;
    }

    void mouse(QWindow *window, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton,
               bool quick = false)
    {
        timestamp += 1 + pick(quick ? 30 : chance(70) ? 60 : 600);
        if (type == QEvent::MouseButtonPress)
            buttons |= button;
        else if (type == QEvent::MouseButtonRelease) {
            buttons &= ~Qt::MouseButtons(button);
            pos = sparingClose(window, pos, button);
        }
        grab = buttons ? window : nullptr;
        last = pos;
        const char *action = type == QEvent::MouseButtonPress     ? "press"
                             : type == QEvent::MouseButtonRelease ? "release"
                                                                  : "move";
        note(QStringLiteral("%1 %2 (%3,%4) button %5 buttons %6")
                 .arg(window->objectName(), action, QString::number(pos.x()), QString::number(pos.y()),
                      QString::number(button), QString::number(buttons)));
        qt_handleMouseEvent(window, pos, window->mapToGlobal(pos), buttons, button, type, Qt::NoModifier,
                            int(timestamp));
        if (button == Qt::LeftButton) {
            patchUnderLeftPress = 0;
            for (int k = 1; k <= 16 && type == QEvent::MouseButtonPress; ++k)
                if (keyboard->capture() == keyboard->PatchImages()[std::size_t(k)])
                    patchUnderLeftPress = k;
        }
    }

    void key(int index, bool press, Qt::KeyboardModifiers modifiers, bool repeat = false)
    {
        QWindow *window = QGuiApplication::focusWindow();
        if (!window)
            window = keyboard->windowHandle();
        const Key &k = Keys[index];
        if (k.keypad)
            modifiers |= Qt::KeypadModifier;
        note(QStringLiteral("key %1 %2 0x%3 mods 0x%4%5")
                 .arg(window->objectName(), press ? "down" : "up", QString::number(k.key, 16),
                      QString::number(modifiers, 16), repeat ? " repeat" : ""));
        const QString text = (modifiers & Qt::ControlModifier) ? QString() : QString::fromLatin1(k.text);
        qt_handleKeyEvent(window, press ? QEvent::KeyPress : QEvent::KeyRelease, k.key, modifiers, text, repeat);
    }

    Qt::KeyboardModifiers someModifiers()
    {
        Qt::KeyboardModifiers m;
        if (chance(8))
            m |= Qt::ControlModifier;
        if (chance(8))
            m |= Qt::ShiftModifier;
        return m;
    }

    void pointerEvent()
    {
        const QList<QWidget *> shown = windows();
        QWindow *window = grab;
        if (!window) {
            if (shown.isEmpty())
                return;
            window = shown[pick(int(shown.size()))]->windowHandle();
        }
        const QSize size = window->size();
        QPoint pos = window == grab && chance(50) ? last + QPoint(pick(51) - 25, pick(51) - 25) : QPoint();
        if (pos.isNull()) {
            QWidget *w = nullptr;
            for (QWidget *candidate : shown)
                if (candidate->windowHandle() == window)
                    w = candidate;
            pos = w ? somewhere(w) : QPoint(pick(size.width()), pick(size.height()));
            // Held, the pointer may wander off the window and still be its.
            if (grab && chance(10))
                pos += QPoint(pick(2 * size.width()) - size.width(), pick(2 * size.height()) - size.height());
        }
        const Qt::MouseButton choices[] = {Qt::LeftButton, Qt::LeftButton, Qt::LeftButton, Qt::LeftButton,
                                           Qt::LeftButton, Qt::RightButton, Qt::MiddleButton};
        const Qt::MouseButton button = choices[pick(int(std::size(choices)))];
        const int what = pick(100);
        if (what < 20 && !(buttons & button)) {
            if (!grab)
                window->requestActivate(); // click to focus, as window managers do
            mouse(window, QEvent::MouseButtonPress, pos, button);
        } else if (what < 36 && buttons) {
            Qt::MouseButton held = Qt::LeftButton;
            while (!(buttons & held))
                held = Qt::MouseButton(held << 1);
            mouse(window, QEvent::MouseButtonRelease, pos, held);
        } else if (what < 40 && !buttons) {
            // A double click: the second press comes quickly at the same spot.
            window->requestActivate();
            for (int i = 0; i < 2; ++i) {
                mouse(window, QEvent::MouseButtonPress, pos, Qt::LeftButton, true);
                mouse(window, QEvent::MouseButtonRelease, pos, Qt::LeftButton, true);
            }
        } else {
            mouse(window, QEvent::MouseMove, pos);
        }
    }

    void keyEvent()
    {
        const int what = pick(100);
        if (what < 45 || keysDown.isEmpty()) {
            const int index = pick(KeyCount);
            if (!keysDown.contains(index)) {
                keysDown << index;
                key(index, true, someModifiers());
            }
        } else if (what < 60) {
            key(keysDown[pick(int(keysDown.size()))], true, someModifiers(), true);
        } else {
            const int index = keysDown.takeAt(pick(int(keysDown.size())));
            key(index, false, someModifiers());
        }
    }

    // The box is modal: the pointer and keys reach only it, and the run
    // goes on inside its event loop until the monkey closes it.
    void boxEvent(QMessageBox *box)
    {
        QWindow *window = box->windowHandle();
        if (buttons || chance(30))
            return pointerEvent();
        if (chance(50)) {
            QAbstractButton *ok = box->button(QMessageBox::Ok);
            const QPoint at = ok->mapTo(box, ok->rect().center());
            mouse(window, QEvent::MouseButtonPress, at, Qt::LeftButton);
            mouse(window, QEvent::MouseButtonRelease, at, Qt::LeftButton);
            return;
        }
        const int wanted = chance(50) ? Qt::Key_Return : Qt::Key_Escape;
        int index = 0;
        while (Keys[index].key != wanted)
            ++index;
        key(index, true, {});
        key(index, false, {});
    }

    void step()
    {
        ++events;
        if (keyboard->isMinimized()) {
            // The task bar brings the program back.
            ++seen.minimised;
            note(QStringLiteral("restore"));
            keyboard->showNormal();
        } else if (QMessageBox *box = openBox()) {
            boxEvent(box);
        } else if (!ad->isVisible() && chance(1)) {
            // Nothing in the program shows the pages again once closed; the
            // monkey does, so that the rest of the run still reaches them.
            ++seen.pagesReopened;
            note(QStringLiteral("advert pages shown again"));
            ad->show();
        } else if (chance(70)) {
            pointerEvent();
        } else {
            keyEvent();
        }
        if (betweenEvents)
            betweenEvents();
        if (QMessageBox *box = openBox(); box && box != lastBox) {
            lastBox = box;
            ++seen.boxes;
        }
        seen.selections += select->isVisible() && !selectionWasShown;
        seen.commits += QuickPatches != slotsBefore;
        selectionWasShown = select->isVisible();
        slotsBefore = QuickPatches;
        seen.pageTurns += std::exchange(lastPage, ad->PageIndex) != ad->PageIndex;
        seen.drags += keyboard->dragging() || select->dragging() || ad->dragging();
        if (const QString broken = brokenRule(); !broken.isEmpty() && failure.isEmpty())
            failure = QStringLiteral("seed %1, event %2: %3").arg(seed).arg(events).arg(broken);
    }

    // Every rule the windows keep between events; empty when all hold.
    QString brokenRule() const
    {
        if (CurrentPatch < 1 || CurrentPatch > 16)
            return QStringLiteral("current patch %1").arg(CurrentPatch);
        const auto &images = keyboard->PatchImages();
        if (!images[std::size_t(CurrentPatch)]->shownDown())
            return QStringLiteral("current quick patch %1 shows %2")
                .arg(CurrentPatch)
                .arg(images[std::size_t(CurrentPatch)]->pictureName());
        for (int k = 1; k <= 16; ++k) {
            const bool pressed = keyboard->capture() == images[std::size_t(k)] || patchUnderLeftPress == k ||
                                 patchKeyHeld.test(std::size_t(k));
            if (k != CurrentPatch && images[std::size_t(k)]->shownDown() && !pressed)
                return QStringLiteral("quick patch %1 shows DOWN beside current %2, unpressed")
                    .arg(k)
                    .arg(CurrentPatch);
            const device::ProgramWord word = QuickPatches[std::size_t(k)];
            if ((word & 0xFFFF80FF) != 0xC0 || device::familyOfProgram(device::programOfWord(word)) != k)
                return QStringLiteral("slot %1 holds 0x%2").arg(k).arg(word, 0, 16);
        }

        if (const auto *held = keyboard->HeldKey(); held && (!keyboard->GetNote(held) || !held->shownDown()))
            return QStringLiteral("held key %1 shows %2").arg(held->objectName(), held->pictureName());
        for (int n = TKeyboard::FirstNote; n <= TKeyboard::LastNote; ++n)
            if (keyboard->keyOfNote(n)->shownDown() != ledger.sounding.test(std::size_t(n)))
                return QStringLiteral("note %1 %2 but shows %3")
                    .arg(n)
                    .arg(ledger.sounding.test(std::size_t(n)) ? "sounds" : "is silent",
                         keyboard->keyOfNote(n)->pictureName());

        // The label names the current slot's instrument, or the one the
        // device last took (an Apply preview), split by its GBK length.
        const QString text = keyboard->ShowPatch()->text();
        const QString name = QString(text).replace(QStringLiteral("\n  "), QString());
        const bool slot = name == device::nameOfWord(QuickPatches[std::size_t(CurrentPatch)]);
        if (!slot && !(ledger.program && name == device::nameOfWord(*ledger.program)))
            return QStringLiteral("label names %1").arg(name);
        const int bytes = device::gbkLength(name);
        const bool twoLines = bytes > 9;
        const QString first = text.section(QLatin1Char('\n'), 0, 0);
        const int split = bytes % 4 ? bytes / 2 + 1 : bytes / 2;
        const bool laidOut = twoLines ? text == first + QStringLiteral("\n  ") + name.mid(first.size()) &&
                                            device::gbkLength(first) == split && name.startsWith(first)
                                      : text == name;
        const QPoint place = twoLines ? QPoint(86, 48) : QPoint(87, 55);
        if (!laidOut || keyboard->ShowPatch()->pos() != place || keyboard->ShowPatchShifted != twoLines)
            return QStringLiteral("label %1 at (%2,%3) for %4")
                .arg(text)
                .arg(keyboard->ShowPatch()->x())
                .arg(keyboard->ShowPatch()->y())
                .arg(name);

        if (select->isVisible()) {
            const int family = select->ChosenFamily;
            if (select->PatchTypes()->currentRow() != family - 1 ||
                device::familyOfProgram(device::programOfWord(select->ChosenMessage)) != family ||
                select->PatchStyles()->count() != 8)
                return QStringLiteral("selection shows family row %1 for chosen family %2, word 0x%3")
                    .arg(select->PatchTypes()->currentRow()).arg(family).arg(select->ChosenMessage, 0, 16);
        }
        if (ad->PageIndex < 0 || ad->PageIndex > 9 ||
            ad->MsgHeader()->text() != tastavia::promo::PageHeaders[std::size_t(ad->PageIndex)])
            return QStringLiteral("page %1 headed %2").arg(ad->PageIndex).arg(ad->MsgHeader()->text());
        return {};
    }

    // What the user does at the end: lets go of every mouse key and key and
    // moves over the keyboard's bare band below the drag zone. (A box still
    // open when the run ended was closed in its own loop.)
    void releaseEverything()
    {
        finishing = true;
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
            if (grab && (buttons & b))
                mouse(grab, QEvent::MouseButtonRelease, last, b);
        while (!keysDown.isEmpty())
            key(keysDown.takeLast(), false, {});
        if (keyboard->isMinimized())
            keyboard->showNormal();
        QCoreApplication::processEvents();
        mouse(keyboard->windowHandle(), QEvent::MouseMove, QPoint(300, 90));
        QCoreApplication::processEvents();
    }

    void run(int count)
    {
        target = count;
        QTimer boxes;
        // Runs the monkey inside each modal box's event loop, and once the
        // run is over or broken, closes the boxes left.
        connect(&boxes, &QTimer::timeout, this, [this] {
            if (QMessageBox *box = openBox()) {
                if (finishing || events >= target || !failure.isEmpty())
                    box->accept();
                else
                    step();
            }
        });
        boxes.start(0);
        QElapsedTimer clock;
        clock.start();
        while (events < target && failure.isEmpty()) {
            step();
            QCoreApplication::processEvents();
        }
        qInfo("%d events in %.1f s: %d boxes, %d selection windows, %d slots changed, %d minimised, "
              "%d pages reopened, %d page turns, %d events while dragging",
              events, double(clock.elapsed()) / 1000, seen.boxes, seen.selections, seen.commits, seen.minimised,
              seen.pagesReopened, seen.pageTurns, seen.drags);
        if (!failure.isEmpty())
            printRecent();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));

        releaseEverything();
        const QString broken = brokenRule();
        if (!broken.isEmpty())
            printRecent();
        QVERIFY2(broken.isEmpty(), qPrintable(QStringLiteral("seed %1, after letting go: %2").arg(seed).arg(broken)));
        QVERIFY(!keyboard->HeldKey());
        for (int n = TKeyboard::FirstNote; n <= TKeyboard::LastNote; ++n)
            QVERIFY2(!keyboard->keyOfNote(n)->shownDown(),
                     qPrintable(QStringLiteral("seed %1: note %2 still down").arg(seed).arg(n)));
        QVERIFY2(ledger.sounding.none(), qPrintable(QStringLiteral("seed %1: notes left sounding").arg(seed)));
    }

    void printRecent() const
    {
        for (const QString &line : recent)
            qInfo("%s", qPrintable(line));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool press = event->type() == QEvent::KeyPress;
        if (watched == keyboard.get() && (press || event->type() == QEvent::KeyRelease)) {
            const auto *k = static_cast<QKeyEvent *>(event);
            const int patch = patchOfCode(tastavia::keyboard::virtualKeyOf(*k));
            // Repeats count as presses: they carry on a key held since
            // before the window had the focus.
            if (patch && !(k->modifiers() & Qt::ControlModifier) && (press || !k->isAutoRepeat()))
                patchKeyHeld.set(std::size_t(patch), press);
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        bool given = false;
        seed = qEnvironmentVariable("TASTAVIA_SEED").toUInt(&given);
        if (!given)
            seed = std::random_device{}();
        qInfo("monkey seed %u (TASTAVIA_SEED=%u replays this run)", seed, seed);
        clips.enter();
        passOn = qInstallMessageHandler(quietPlatform);
        tastavia::desktop::setUrlOpener([](const QUrl &) {});
    }

    void init()
    {
        fakeDevice().reset();
        tastavia::patches::resetPatchState();
        IsNT5 = true;
        rng.seed(seed);
        events = 0;
        finishing = false;
        failure.clear();
        recent.clear();
        ledger = {};
        seen = {};
        lastBox = nullptr;
        selectionWasShown = false;
        slotsBefore = QuickPatches;
        lastPage = 0;
        patchKeyHeld.reset();
        patchUnderLeftPress = 0;
        betweenEvents = {};
        buttons = {};
        grab = nullptr;
        keysDown.clear();

        // Built as start-up builds them.
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        keyboard->show();
        select = std::make_unique<TPatchSelect>(keyboard.get());
        select->FormCreate();
        keyboard->setPatchSelect(select.get());
        ad = std::make_unique<TADPlayer>();
        ad->FormCreate();
        ad->show();
        ad->activateWindow();
        keyboard->windowHandle()->setObjectName(QStringLiteral("keyboard"));
        select->winId();
        select->windowHandle()->setObjectName(QStringLiteral("selection"));
        ad->windowHandle()->setObjectName(QStringLiteral("pages"));
        keyboard->installEventFilter(this);
        QCoreApplication::processEvents();
    }

    void cleanup()
    {
        Engine::instance().disconnect();
        keyboard->setPatchSelect(nullptr);
        select->setPatchBar(nullptr);
        keyboard.reset();
        select.reset();
        ad.reset();
    }

    void randomEventsWithARefusingDevice()
    {
        fakeDevice().refuseAtRandom(seed, 8);
        auto refusing = fakeDevice().midiAnswer;
        fakeDevice().midiAnswer = [this, refusing](std::uint32_t message) {
            // Letting go at the end, the device takes everything.
            const bool accepted = finishing || refusing(message);
            if (accepted)
                ledger.take(message);
            return accepted;
        };
        // The fake's record of a long run is not needed, only its answers.
        betweenEvents = [] {
            if (fakeDevice().calls.size() > 10000)
                fakeDevice().clearCalls();
        };
        run(FakeEvents);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(seen.boxes && seen.selections && seen.commits && seen.pageTurns && seen.drags,
                 "the run hardly reached the windows");
    }

    void randomEventsOnTheRealSynthLeaveNoVoiceSounding()
    {
        // The real library's engine plays every message the program sends,
        // rendered offline, and reports notes it cannot sound as it would
        // to a user.
        Engine::instance().setSynthOptions(tastavia::korvalink::Synth::offlineOptions());
        Engine::instance().setPortOptions({tastavia::korvalink::MidiPortOptions::Systems::None, "Tastavia"});
        const Engine::Status connected = Engine::instance().connect(keyboard->deviceHandle());
        QVERIFY2(connected.ok, connected.error.c_str());
        fakeDevice().midiAnswer = [this](std::uint32_t message) {
            const bool accepted = Engine::instance().play(message);
            if (accepted)
                ledger.take(message);
            return accepted;
        };
        // As an audio thread would, between events.
        betweenEvents = [this] {
            if (events % 8 == 0)
                listening::listen(0.01);
            if (fakeDevice().calls.size() > 10000)
                fakeDevice().clearCalls();
        };
        run(RealEvents);
        if (QTest::currentTestFailed())
            return;
        // Every voice has had its note off; what still sounds is dying away.
        int held = 0;
        Engine::instance().withSynth([&](tastavia::korvalink::Synth &synth) {
            std::array<fluid_voice_t *, 1024> voices{};
            fluid_synth_get_voicelist(synth.fluid(), voices.data(), int(voices.size()), -1);
            for (fluid_voice_t *voice : voices)
                held += voice && fluid_voice_is_on(voice);
        });
        QVERIFY2(!held, qPrintable(QStringLiteral("seed %1: %2 voices still held").arg(seed).arg(held)));
        // A run leaves up to the synth's polyphony in release, and a bowed
        // string's release runs for some twenty seconds.
        for (int i = 0; i < 60 && listening::activeVoices() > 0; ++i)
            listening::listen(1);
        QCOMPARE(listening::activeVoices(), 0);
    }
};

QTEST_MAIN(MonkeyTest)
#include "tst_monkey.moc"
