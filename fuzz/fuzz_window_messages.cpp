// Window messages, any number, any parameters and in any order, posted to
// the keyboard window through the handle it gave the (fake) device
// library, sometimes in floods while the window takes nothing. Once the
// window has taken everything, each key must show what the last note
// message for it said, nothing may be left waiting, no box may stay open,
// and nothing may have been sent back to the device.
//
// Input: a run of records, each an operation byte and its arguments:
//   0  KORVA_MSG_HITKEY, wParam, lParam
//   1  KORVA_MSG_ERROR, wParam, lParam
//   2  KORVA_MSG_MIDISTOP, wParam, lParam
//   3  any message number, wParam, lParam
//   4  the window takes what is waiting
//   5  the last message again, 64 to 4,096 times, while the window is behind
#include "Fuzzing.h"

#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <keyboard/PianoMain.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <array>
#include <memory>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;

namespace {

constexpr int kFirst = TKeyboard::FirstNote;
constexpr int kLast = TKeyboard::LastNote;

struct Rig {
    int argc = 1;
    char name[8] = "fuzzing";
    char *argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<tastavia::testing::ClipDirectory> clips;
    std::unique_ptr<TKeyboard> keyboard;
    QTimer boxCloser;
    // Whether each key should be down, by the last note message for it.
    std::array<bool, 128> down{};
    std::uint32_t last[3] = {KORVA_MSG_MIDISTOP, 0, 0};

    Rig()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // GLib's event loop writes to its wake-up descriptor on every post;
        // Qt's own loop writes once until the loop runs, and this harness
        // posts millions of messages without running it: a third faster.
        qputenv("QT_NO_GLIB", "1");
        // Every error box has the offscreen platform warn about size hints;
        // written out, those warnings would cost more than the inputs.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        app = std::make_unique<QApplication>(argc, argv);
        clips = std::make_unique<tastavia::testing::ClipDirectory>();
        clips->enter();
        fakeDevice().reset();
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        FUZZ_CHECK(fakeDevice().window == keyboard->deviceHandle(), "the window did not connect");
        fakeDevice().clearCalls();
        // An error box runs its own event loop until answered; this answers
        // every box from inside that loop.
        QObject::connect(&boxCloser, &QTimer::timeout, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                    box->accept();
        });
        boxCloser.start(0);
    }

    void post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
    {
        fakeDevice().post(message, wParam, lParam);
        last[0] = message;
        last[1] = wParam;
        last[2] = lParam;
        const std::uint32_t status = wParam & 0xFF;
        const std::uint32_t note = (wParam >> 8) & 0xFF;
        if (message == KORVA_MSG_HITKEY && note >= kFirst && note <= kLast && (status == 0x80 || status == 0x90))
            down[note] = status == 0x90 && ((wParam >> 16) & 0xFF) != 0;
    }

    void take() { QCoreApplication::sendPostedEvents(keyboard.get()); }

    void check()
    {
        take();
        FUZZ_CHECK(keyboard->queuedDeviceMessages() == 0, "%d messages still counted as waiting",
                   keyboard->queuedDeviceMessages());
        for (int note = kFirst; note <= kLast; ++note) {
            const bool shown = keyboard->keyOfNote(note)->pictureName().endsWith(QLatin1String("_DOWN"));
            FUZZ_CHECK(shown == down[std::size_t(note)], "key %d shows %s", note, shown ? "down" : "up");
        }
        for (QWidget *w : QApplication::topLevelWidgets())
            FUZZ_CHECK(!(qobject_cast<QMessageBox *>(w) && w->isVisible()), "an error box stayed open");
        FUZZ_CHECK(fakeDevice().calls.empty(), "the window called %s", fakeDevice().calls[0].name.c_str());
    }

    // Every key up again, through the same door, for the next input.
    void reset()
    {
        for (int note = kFirst; note <= kLast; ++note)
            if (down[std::size_t(note)])
                post(KORVA_MSG_HITKEY, 0x80u | std::uint32_t(note) << 8, 0);
        check();
    }
};

Rig &rig()
{
    static Rig rig;
    return rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Rig &r = rig();
    fuzzing::Reader in(data, size);
    while (!in.empty()) {
        const std::uint8_t op = in.byte() % 6;
        switch (op) {
        case 0:
        case 1:
        case 2: {
            const std::uint32_t kinds[] = {KORVA_MSG_HITKEY, KORVA_MSG_ERROR, KORVA_MSG_MIDISTOP};
            const std::uint32_t wParam = in.u32();
            r.post(kinds[op], wParam, in.u32());
            break;
        }
        case 3: {
            const std::uint32_t message = in.u32(), wParam = in.u32();
            r.post(message, wParam, in.u32());
            break;
        }
        case 4:
            r.take();
            break;
        case 5:
            for (int n = 64 << (in.byte() % 7); n > 0; --n)
                r.post(r.last[0], r.last[1], r.last[2]);
            break;
        }
    }
    r.check();
    r.reset();
    return 0;
}
