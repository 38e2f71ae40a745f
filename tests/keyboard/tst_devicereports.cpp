// Messages the device library posts back: incoming notes light keys, error
// reports open a box, stop notices do nothing. They arrive as queued events,
// exactly as the real library's posts do.
#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <PointerDriver.h>
#include <keyboard/PianoMain.h>

#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <array>
#include <thread>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;

namespace {

QList<QMessageBox *> openBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes << box;
    return boxes;
}

} // namespace

class DeviceReportsTest : public QObject
{
    Q_OBJECT

    tastavia::testing::ClipDirectory clips;
    std::unique_ptr<TKeyboard> keyboard;

    QString picture(const char *name) const { return keyboard->control(QLatin1String(name))->pictureName(); }
    void deliver(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
    {
        fakeDevice().post(message, wParam, lParam);
        QCoreApplication::sendPostedEvents(keyboard.get());
    }

private slots:
    void initTestCase() { clips.enter(); }
    void init()
    {
        fakeDevice().reset();
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        fakeDevice().clearCalls();
    }
    void cleanup() { keyboard.reset(); }

    void incomingNotesShowKeys_data()
    {
        QTest::addColumn<uint>("wParam");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("note on 60") << 0x7F3C90u << "ImgKey3C" << "WHITEKEY_DOWN";
        QTest::newRow("note on 96") << 0x7F6090u << "ImgKey6C" << "WHITEKEY_DOWN";
        QTest::newRow("note on 36") << 0x402490u << "ImgKey1C" << "WHITEKEY_DOWN";
        QTest::newRow("black note on 61") << 0x7F3D90u << "ImgKey3CS" << "BLACKKEY_DOWN";
        QTest::newRow("high byte ignored") << 0xAB7F3C90u << "ImgKey3C" << "WHITEKEY_DOWN";
        QTest::newRow("note off 60") << 0x403C80u << "ImgKey3C" << "WHITEKEY_UP";
        QTest::newRow("note off velocity 0") << 0x3C80u << "ImgKey3C" << "WHITEKEY_UP";
        QTest::newRow("note on velocity 0") << 0x3C90u << "ImgKey3C" << "WHITEKEY_UP";
        QTest::newRow("black note off 61") << 0x7F3D80u << "ImgKey3CS" << "BLACKKEY_UP";
    }
    void incomingNotesShowKeys()
    {
        QFETCH(uint, wParam);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        deliver(KORVA_MSG_HITKEY, wParam, 0);
        QCOMPARE(keyboard->control(key)->pictureName(), expected);
        QVERIFY(fakeDevice().calls.empty());
    }

    void otherMessagesChangeNothing_data()
    {
        QTest::addColumn<uint>("wParam");
        QTest::newRow("note 35") << 0x7F2390u;
        QTest::newRow("note 97") << 0x7F6190u;
        QTest::newRow("channel 2 note on") << 0x7F3C91u;
        QTest::newRow("channel 16 note off") << 0x7F3C8Fu;
        QTest::newRow("controller") << 0x7F3CB0u;
        QTest::newRow("program change") << 0x3CC0u;
    }
    void otherMessagesChangeNothing()
    {
        QFETCH(uint, wParam);
        // Black keys start with their designed picture, white keys with
        // WHITEKEY_UP: any change would show as a new picture name.
        QStringList before;
        for (int note = 36; note <= 96; ++note)
            before << keyboard->keyOfNote(note)->pictureName();
        deliver(KORVA_MSG_HITKEY, wParam, 0);
        deliver(KORVA_MSG_MIDISTOP, 0x12345678, 0x9ABCDEF0);
        deliver(0x5402, 0x7F3C90, 0);
        QStringList after;
        for (int note = 36; note <= 96; ++note)
            after << keyboard->keyOfNote(note)->pictureName();
        QCOMPARE(after, before);
    }

    void incomingNoteOffShowsTheMouseHeldKeyUpButKeepsItHeld()
    {
        tastavia::testing::PointerDriver pointer(keyboard.get());
        pointer.press({279, 160});
        deliver(KORVA_MSG_HITKEY, 0x7F3C80, 0);
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
        QCOMPARE(keyboard->HeldKey(), keyboard->control(QStringLiteral("ImgKey3C")));
        pointer.release({279, 160});
        QCOMPARE(fakeDevice().sent(), (std::vector<std::uint32_t>{0x7F3C90, 0x7F3C80}));
    }

    void boxOverAMouseHeldKeyEndsItsNote()
    {
        // The box takes the pointer, and the release would go to it.
        keyboard->show();
        QVERIFY(QTest::qWaitForWindowExposed(keyboard.get()));
        QTest::mousePress(keyboard->windowHandle(), Qt::LeftButton, {}, QPoint(279, 160));
        std::vector<std::uint32_t> sentWhileOpen;
        QTimer::singleShot(0, [&] {
            sentWhileOpen = fakeDevice().sent();
            for (QMessageBox *box : openBoxes())
                box->accept();
        });
        deliver(KORVA_MSG_ERROR, 0, 0);
        QCOMPARE(sentWhileOpen, (std::vector<std::uint32_t>{0x7F3C90, 0x7F3C80}));
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
        QVERIFY(!keyboard->HeldKey());
        QTest::mouseRelease(keyboard->windowHandle(), Qt::LeftButton, {}, QPoint(279, 160));
    }

    void errorReportsShowTheirText_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<uint>("wParam");
        QTest::addColumn<QString>("text");
        QTest::newRow("out of range") << 0u << 0u << QString::fromUtf8("音符超出范围");
        QTest::newRow("sounding failed") << 1u << 0u << QString::fromUtf8("发音失败");
        QTest::newRow("wParam ignored") << 1u << 0xFFFFu << QString::fromUtf8("发音失败");
        QTest::newRow("other code") << 2u << 0u << QString();
        QTest::newRow("huge code") << 0xFFFFFFFFu << 0u << QString();
    }
    void errorReportsShowTheirText()
    {
        QFETCH(uint, code);
        QFETCH(uint, wParam);
        QFETCH(QString, text);
        QString shown, title;
        QMessageBox::StandardButtons buttons;
        QString okText;
        QTimer::singleShot(0, [&] {
            const auto boxes = openBoxes();
            if (boxes.isEmpty())
                return;
            shown = boxes[0]->text();
            title = boxes[0]->windowTitle();
            buttons = boxes[0]->standardButtons();
            okText = boxes[0]->button(QMessageBox::Ok)->text();
            boxes[0]->accept();
        });
        deliver(KORVA_MSG_ERROR, wParam, code);
        QCoreApplication::processEvents();
        QCOMPARE(shown, text);
        if (!text.isEmpty()) {
            QCOMPARE(title, QStringLiteral("Tastavia"));
            QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(okText, QString::fromUtf8("确定"));
        }
    }

    void incomingStormWhileTheWindowIsBehindIsBoundedAndEndsRight()
    {
        // A thread floods while the window takes nothing: the queue stays
        // bounded, and once the window catches up each key shows the last
        // message for it.
        std::array<std::uint32_t, 128> last{};
        std::thread storm([&] {
            for (std::uint32_t i = 0; i < 200000; ++i) {
                const std::uint32_t note = 36 + i % 61;
                const std::uint32_t message = (i / 61 + note) % 3 ? 0x7F0090 + note * 256 : 0x400080 + note * 256;
                fakeDevice().post(KORVA_MSG_HITKEY, message, 0);
                last[note] = message;
            }
        });
        storm.join();
        QVERIFY2(keyboard->queuedDeviceMessages() <= 5000, qPrintable(QString::number(keyboard->queuedDeviceMessages())));
        QCoreApplication::sendPostedEvents(keyboard.get());
        QCOMPARE(keyboard->queuedDeviceMessages(), 0);
        for (int note = 36; note <= 96; ++note) {
            const bool down = (last[std::size_t(note)] & 0xF0) == 0x90;
            const QString shown = keyboard->keyOfNote(note)->pictureName();
            QVERIFY2(shown.endsWith(down ? "_DOWN" : "_UP"), qPrintable(QString::number(note) + " " + shown));
        }
        // Caught up, messages are taken one by one again.
        deliver(KORVA_MSG_HITKEY, 0x403C80, 0);
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
    }

    void errorStormOpensABoundedNumberOfBoxesAndNotesStillArrive()
    {
        // A device that reports errors in a flood must not nest one modal
        // loop per report.
        int deepest = 0;
        bool keyLitWhileBoxOpen = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            const auto boxes = openBoxes();
            deepest = std::max(deepest, int(boxes.size()));
            if (boxes.isEmpty())
                return;
            if (!keyLitWhileBoxOpen) {
                fakeDevice().post(KORVA_MSG_HITKEY, 0x7F3C90, 0);
                QCoreApplication::sendPostedEvents(keyboard.get());
                keyLitWhileBoxOpen = keyboard->control(QStringLiteral("ImgKey3C"))->pictureName() == "WHITEKEY_DOWN";
            }
            boxes.last()->accept();
        });
        watcher.start(20);
        for (int i = 0; i < 10000; ++i)
            fakeDevice().post(KORVA_MSG_ERROR, 0, i % 2);
        QCoreApplication::sendPostedEvents(keyboard.get());
        QTRY_VERIFY(openBoxes().isEmpty());
        QVERIFY(deepest >= 1);
        QVERIFY2(deepest <= 2, qPrintable(QString::number(deepest)));
        QVERIFY(keyLitWhileBoxOpen);
        QVERIFY(fakeDevice().calls.empty());
    }
};

QTEST_MAIN(DeviceReportsTest)
#include "tst_devicereports.moc"
