// Playing from the computer keyboard: which key code does what, auto-repeat,
// Ctrl on press or release only, and how mouse and keys share the held key.
#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <PointerDriver.h>
#include <keyboard/PianoMain.h>
#include <patches/Patch.h>
#include <patches/PatchState.h>
#include <platform/desktop/Desktop.h>

#include <QtTest>

#include <algorithm>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;
using Sent = std::vector<std::uint32_t>;

namespace {
constexpr std::uint16_t Z = 0x5A, X = 0x58, P = 0x50, S = 0x53, W = 0x57, F1 = 0x70;
const Qt::KeyboardModifiers Ctrl = Qt::ControlModifier;
} // namespace

class ComputerKeysTest : public QObject
{
    Q_OBJECT

    tastavia::testing::ClipDirectory clips;
    std::unique_ptr<TKeyboard> keyboard;
    std::unique_ptr<tastavia::patches::TPatchSelect> select;
    QList<QUrl> opened;

    QString picture(const char *name) const { return keyboard->control(QLatin1String(name))->pictureName(); }
    void down(std::uint16_t key, Qt::KeyboardModifiers shift = Qt::NoModifier) { keyboard->FormKeyDown(key, shift); }
    void up(std::uint16_t key, Qt::KeyboardModifiers shift = Qt::NoModifier) { keyboard->FormKeyUp(key, shift); }

private slots:
    void initTestCase() { clips.enter(); }
    void init()
    {
        fakeDevice().reset();
        tastavia::patches::resetPatchState();
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        select = std::make_unique<tastavia::patches::TPatchSelect>(keyboard.get());
        select->FormCreate();
        keyboard->setPatchSelect(select.get());
        keyboard->show();
        fakeDevice().clearCalls();
        opened.clear();
        tastavia::desktop::setUrlOpener([this](const QUrl &url) { opened << url; });
    }
    void cleanup()
    {
        keyboard->setPatchSelect(nullptr);
        select.reset();
        keyboard.reset();
        tastavia::desktop::setUrlOpener({});
    }

    void everyNoteKeyPlaysItsWhiteKey_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("note");
        const int codes[36] = {0x5A, 0x58, 0x43, 0x56, 0x42, 0x4E, 0x4D, 0xBC, 0xBE, 0xBF, 0x41, 0x53,
                               0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0xBA, 0xDE, 0x51, 0x57, 0x45,
                               0x52, 0x54, 0x59, 0x55, 0x49, 0x4F, 0x50, 0xDB, 0xDD, 0x60, 0x6E, 0x61};
        const int whites[7] = {0, 2, 4, 5, 7, 9, 11};
        for (int i = 0; i < 36; ++i) {
            const int note = 36 + 12 * (i / 7) + whites[i % 7];
            QTest::newRow(qPrintable(QStringLiteral("0x%1").arg(codes[i], 2, 16, QLatin1Char('0')))) << codes[i] << note;
        }
    }
    void everyNoteKeyPlaysItsWhiteKey()
    {
        QFETCH(int, code);
        QFETCH(int, note);
        down(std::uint16_t(code));
        QCOMPARE(fakeDevice().sent(), Sent{0x7F0090u + 256u * note});
        QCOMPARE(keyboard->HeldKey(), keyboard->keyOfNote(note));
        up(std::uint16_t(code));
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F0090u + 256u * note, 0x7F0080u + 256u * note}));
        QVERIFY(!keyboard->HeldKey());
    }

    void heldKeySoundsOnceThroughAutoRepeat()
    {
        for (int i = 0; i < 5; ++i)
            down(Z);
        up(Z);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x7F2480}));
    }

    void twoKeysHeldTogether()
    {
        down(Z);
        down(X);
        up(Z);
        QVERIFY(!keyboard->HeldKey());
        QCOMPARE(picture("ImgKey1D"), QStringLiteral("WHITEKEY_DOWN"));
        down(X); // a repeat of X strikes it again
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x7F2690, 0x7F2480, 0x7F2690}));
    }

    void pointerOverTheBackgroundEndsAKeyHeldNote()
    {
        tastavia::testing::PointerDriver pointer(keyboard.get());
        down(Z);
        pointer.move({300, 185});
        down(Z);
        up(Z);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x2480, 0x7F2490, 0x7F2480}));
    }

    void keyOfAMouseHeldNoteDoesNotStrikeAgain()
    {
        tastavia::testing::PointerDriver pointer(keyboard.get());
        pointer.press({25, 160});
        down(Z);
        up(Z);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x7F2480}));
    }

    void ctrlSilencesNoteKeys()
    {
        down(Z, Ctrl);
        up(Z, Ctrl);
        QVERIFY(fakeDevice().sent().empty());
        down(Z);
        up(Z, Ctrl); // the note keeps sounding
        QCOMPARE(fakeDevice().sent(), Sent{0x7F2490});
        QCOMPARE(picture("ImgKey1C"), QStringLiteral("WHITEKEY_DOWN"));
        down(X, Ctrl);
        up(X); // pressed with Ctrl, released without: still a note off
        QCOMPARE(fakeDevice().sent().back(), 0x7F2680u);
        QVERIFY(!keyboard->HeldKey());
    }

    void shiftMakesNoDifference()
    {
        down(Z, Qt::ShiftModifier);
        up(Z, Qt::ShiftModifier);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x7F2480}));
    }

    void ctrlShortcutsActOnceOnRelease()
    {
        down(P, Ctrl);
        QVERIFY(!select->isVisible());
        QCOMPARE(picture("ImgSelectPatch"), QStringLiteral("SELECTPATCH_UP"));
        up(P, Ctrl);
        QVERIFY(select->isVisible());
        up(P, Ctrl);
        QVERIFY(!select->isVisible());
        down(S, Ctrl);
        down(W, Ctrl);
        down(F1, Ctrl);
        QVERIFY(opened.isEmpty());
        QCOMPARE(picture("ImgStaff"), QStringLiteral("STAFF_UP"));
        up(S, Ctrl);
        up(W, Ctrl);
        up(F1, Ctrl);
        QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("http://www.olvani.example/staff/index.htm")),
                                      QUrl(QStringLiteral("http://www.olvani.example")),
                                      QUrl(QStringLiteral("http://www.olvani.example/download/PravikHelp.chm"))}));
        QVERIFY(fakeDevice().sent().empty());
    }

    void quickPatchKeysChangeOnRelease_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("patch");
        const int codes[16] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0x2D, 0x24, 0x21, 0x2E, 0x23, 0x22};
        for (int k = 0; k < 16; ++k)
            QTest::newRow(qPrintable(QString::number(k + 1))) << codes[k] << k + 1;
    }
    void quickPatchKeysChangeOnRelease()
    {
        QFETCH(int, code);
        QFETCH(int, patch);
        for (int i = 0; i < 3; ++i)
            down(std::uint16_t(code));
        QVERIFY(fakeDevice().sent().empty());
        up(std::uint16_t(code));
        QCOMPARE(tastavia::patches::CurrentPatch, patch);
        QCOMPARE(fakeDevice().sent(), Sent{0xC0u + 0x800u * (patch - 1)});
    }

    void keysWithoutMeaningDoNothing()
    {
        for (std::uint16_t code : {0x71, 0x25, 0x26, 0x0D, 0x20, 0x62, 0x69, 0x00}) {
            down(code);
            up(code);
        }
        QVERIFY(fakeDevice().calls.empty());
    }

    void qtKeysMapToTheirCodes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("code");
        QTest::newRow("Z") << int(Qt::Key_Z) << 0 << 0x5A;
        QTest::newRow("shift comma") << int(Qt::Key_Less) << int(Qt::ShiftModifier) << 0xBC;
        QTest::newRow("apostrophe") << int(Qt::Key_Apostrophe) << 0 << 0xDE;
        QTest::newRow("keypad 0") << int(Qt::Key_0) << int(Qt::KeypadModifier) << 0x60;
        QTest::newRow("keypad decimal") << int(Qt::Key_Period) << int(Qt::KeypadModifier) << 0x6E;
        QTest::newRow("keypad 1") << int(Qt::Key_1) << int(Qt::KeypadModifier) << 0x61;
        QTest::newRow("keypad 5") << int(Qt::Key_5) << int(Qt::KeypadModifier) << 0;
        QTest::newRow("keypad insert (Num Lock off)") << int(Qt::Key_Insert) << int(Qt::KeypadModifier) << 0x2D;
        QTest::newRow("keypad page up (Num Lock off)") << int(Qt::Key_PageUp) << int(Qt::KeypadModifier) << 0x21;
        QTest::newRow("digit 0") << int(Qt::Key_0) << 0 << 0x30;
        QTest::newRow("F1") << int(Qt::Key_F1) << 0 << 0x70;
        QTest::newRow("F2") << int(Qt::Key_F2) << 0 << 0;
        QTest::newRow("left arrow") << int(Qt::Key_Left) << 0 << 0;
    }
    void qtKeysMapToTheirCodes()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, code);
        QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(int(tastavia::keyboard::virtualKeyOf(event)), code);
    }

    void keysHeldWhenTheFocusLeavesAreLetGo()
    {
        // The key-ups go to the window that took the focus: the note ends
        // and the quick patch is chosen, as the releases would have done.
        keyboard->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(keyboard.get()));
        QTest::keyPress(keyboard.get(), Qt::Key_G);
        QTest::keyPress(keyboard.get(), Qt::Key_5);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        // In no particular order: two keys were let go at once.
        Sent sent = fakeDevice().sent();
        std::sort(sent.begin() + 1, sent.end());
        QCOMPARE(sent, (Sent{0x7F3C90, 0x20C0, 0x7F3C80}));
        QCOMPARE(picture("ImgPatch1"), QStringLiteral("PATCH01_UP"));
        QCOMPARE(picture("ImgPatch5"), QStringLiteral("PATCH05_DOWN"));
        QCOMPARE(tastavia::patches::CurrentPatch, 5);
    }

    void keyEventsReachTheWindow()
    {
        QTest::keyPress(keyboard.get(), Qt::Key_G);
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_DOWN"));
        QTest::keyRelease(keyboard.get(), Qt::Key_G);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x7F3C80}));
    }
};

QTEST_MAIN(ComputerKeysTest)
#include "tst_computerkeys.moc"
