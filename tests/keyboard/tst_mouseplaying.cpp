// Playing with the mouse through the window's own pointer routing: what is
// sent, in which order, and what the keys show when the device refuses.
#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <PointerDriver.h>
#include <keyboard/PianoMain.h>
#include <platform/desktop/Desktop.h>

#include <QToolTip>
#include <QtTest>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;
using tastavia::skin::ImageControl;
using Sent = std::vector<std::uint32_t>;

class MousePlayingTest : public QObject
{
    Q_OBJECT

    tastavia::testing::ClipDirectory clips;
    std::unique_ptr<TKeyboard> keyboard;
    std::unique_ptr<tastavia::testing::PointerDriver> pointer;

    ImageControl *key(const char *name) const { return keyboard->control(QLatin1String(name)); }
    QString picture(const char *name) const { return key(name)->pictureName(); }
    void refuseEverything() { fakeDevice().midiAnswer = [](std::uint32_t) { return false; }; }

private slots:
    void initTestCase() { clips.enter(); }

    void init()
    {
        fakeDevice().reset();
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        keyboard->show();
        pointer = std::make_unique<tastavia::testing::PointerDriver>(keyboard.get());
        fakeDevice().clearCalls();
    }

    void cleanup()
    {
        keyboard.reset();
        tastavia::desktop::setUrlOpener({});
    }

    void pressAndReleaseSendOneNoteEach()
    {
        pointer->press({279, 160});
        QCOMPARE(fakeDevice().sent(), Sent{0x7F3C90});
        QCOMPARE(fakeDevice().calls[0].args, (std::vector<std::uint32_t>{0, 963, 0, 0x7F3C90, 0}));
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_DOWN"));
        QCOMPARE(keyboard->HeldKey(), key("ImgKey3C"));
        pointer->release({279, 160});
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x7F3C80}));
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
        QVERIFY(!keyboard->HeldKey());
    }

    void otherMouseKeysDoNothing()
    {
        for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
            pointer->press({279, 160}, button);
            pointer->move({290, 160});
            pointer->release({279, 160}, button);
        }
        QVERIFY(fakeDevice().sent().empty());
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
        QVERIFY(!keyboard->HeldKey());
    }

    void pressingTheHeldKeyAgainSendsNothing()
    {
        pointer->press({279, 160});
        keyboard->ImgKeyMouseDown(key("ImgKey3C"), Qt::LeftButton);
        QCOMPARE(fakeDevice().sent(), Sent{0x7F3C90});
    }

    void glidingSendsNewNoteOnBeforeOldNoteOff()
    {
        pointer->press({20, 120});
        pointer->slide({20, 120}, {44, 120});
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x7F2590, 0x7F2480, 0x7F2690, 0x7F2580}));
        QCOMPARE(keyboard->HeldKey(), key("ImgKey1D"));
        QCOMPARE(picture("ImgKey1C"), QStringLiteral("WHITEKEY_UP"));
        QCOMPARE(picture("ImgKey1CS"), QStringLiteral("BLACKKEY_UP"));
        QCOMPARE(picture("ImgKey1D"), QStringLiteral("WHITEKEY_DOWN"));
    }

    void slidingWithoutAMouseKeyPlaysNothing()
    {
        pointer->slide({20, 120}, {300, 120});
        QVERIFY(fakeDevice().sent().empty());
    }

    void movingOntoTheBareWindowSilencesThenALaterKeyPlaysAgain()
    {
        pointer->press({279, 160});
        pointer->move({279, 185});
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x3C80}));
        QVERIFY(!keyboard->HeldKey());
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
        pointer->move({279, 160});
        QCOMPARE(fakeDevice().sent().back(), 0x7F3C90u);
        QCOMPARE(keyboard->HeldKey(), key("ImgKey3C"));
    }

    void sweepFromTheBackgroundBelowTheDragZonePlaysTheKeys()
    {
        pointer->press({265, 90});
        QVERIFY(fakeDevice().sent().empty());
        QVERIFY(!keyboard->dragging());
        pointer->slide({265, 90}, {265, 160});
        pointer->slide({265, 160}, {280, 160});
        // Background moves between the press and the first key release nothing.
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3B90, 0x7F3C90, 0x7F3B80}));
    }

    void movesOverControlsAndTheAdvertStripReleaseNothing()
    {
        pointer->press({279, 160});
        pointer->move({190, 60});  // ImgPatch1
        pointer->move({95, 60});   // ShowPatch label
        pointer->move({300, 15});  // advert strip
        QCOMPARE(fakeDevice().sent(), Sent{0x7F3C90});
        QCOMPARE(keyboard->cursor().shape(), Qt::PointingHandCursor);
        pointer->move({120, 40});
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x3C80}));
        QCOMPARE(keyboard->cursor().shape(), Qt::ArrowCursor);
    }

    void releaseOverAnotherKeyReleasesThatKey()
    {
        pointer->press({279, 160});
        pointer->release({313, 160});
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x7F4080}));
        QVERIFY(!keyboard->HeldKey());
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_DOWN"));
    }

    void deviceRefusalLeavesHeldKeyAndPictures()
    {
        refuseEverything();
        pointer->press({279, 160});
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_UP"));
        QVERIFY(!keyboard->HeldKey());

        fakeDevice().midiAnswer = {};
        pointer->press({279, 160});
        refuseEverything();
        pointer->release({279, 160});
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_DOWN"));
        QCOMPARE(keyboard->HeldKey(), key("ImgKey3C"));

        pointer->press({279, 160});
        pointer->move({150, 40});  // the bare band, inside the drag zone
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_DOWN"));
        QCOMPARE(keyboard->HeldKey(), key("ImgKey3C"));
        QVERIFY2(!keyboard->dragging(), "a refused release must skip the drag");

        pointer->move({297, 160});  // glide onto ImgKey3D, refused
        QCOMPARE(picture("ImgKey3D"), QStringLiteral("WHITEKEY_UP"));
        QCOMPARE(keyboard->HeldKey(), key("ImgKey3C"));
    }

    void glideWhoseOldNoteOffFailsKeepsBothKeysDown()
    {
        pointer->press({279, 160});
        fakeDevice().midiAnswer = [](std::uint32_t message) { return (message & 0xF0) != 0x80; };
        pointer->move({297, 160});
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x7F3E90, 0x7F3C80}));
        QCOMPARE(picture("ImgKey3D"), QStringLiteral("WHITEKEY_DOWN"));
        QCOMPARE(picture("ImgKey3C"), QStringLiteral("WHITEKEY_DOWN"));
        QCOMPARE(keyboard->HeldKey(), key("ImgKey3C"));
    }

    void aLostReleaseDoesNotLeaveASwitchHoldingThePointer()
    {
        keyboard->FormKeyDown(0x5A, Qt::NoModifier); // Z holds ImgKey1C
        pointer->press({66, 16});                  // ImgHelp takes the pointer
        // The release goes elsewhere (a modal box, another grab); the next
        // move comes with no mouse key down and must reach the window.
        QMouseEvent move(QEvent::MouseMove, QPointF(300, 185), keyboard->mapToGlobal(QPointF(300, 185)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(keyboard.get(), &move);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F2490, 0x2480}));
        QVERIFY(!keyboard->HeldKey());
    }

    void switchesActOnlyOnALeftReleaseStrictlyInside_data()
    {
        QTest::addColumn<QPoint>("release"); // in ImgHelp's own coordinates
        QTest::addColumn<bool>("acts");
        QTest::newRow("left column") << QPoint(0, 5) << false;
        QTest::newRow("top row") << QPoint(5, 0) << false;
        QTest::newRow("bottom right corner") << QPoint(17, 17) << true;
        QTest::newRow("just outside") << QPoint(18, 5) << false;
        QTest::newRow("far away") << QPoint(400, 120) << false;
    }
    void switchesActOnlyOnALeftReleaseStrictlyInside()
    {
        QFETCH(QPoint, release);
        QFETCH(bool, acts);
        QList<QUrl> opened;
        tastavia::desktop::setUrlOpener([&](const QUrl &url) { opened << url; });
        const QPoint origin = key("ImgHelp")->pos();
        pointer->press(origin + QPoint(5, 5));
        QCOMPARE(picture("ImgHelp"), QStringLiteral("HELP_DOWN"));
        pointer->move(origin + release); // the switch keeps the pointer
        pointer->release(origin + release);
        QCOMPARE(picture("ImgHelp"), QStringLiteral("HELP_UP"));
        QCOMPARE(opened.size(), acts ? 1 : 0);
        if (acts)
            QCOMPARE(opened[0], QUrl(QStringLiteral("http://www.olvani.example/download/PravikHelp.chm")));
    }

    void rightClickOnASwitchChangesNothing()
    {
        QList<QUrl> opened;
        tastavia::desktop::setUrlOpener([&](const QUrl &url) { opened << url; });
        pointer->press({90, 15}, Qt::RightButton);
        QCOMPARE(picture("ImgStaff"), QStringLiteral("STAFF_UP"));
        pointer->release({90, 15}, Qt::RightButton);
        QVERIFY(opened.isEmpty());
    }

    void staffLogoAndCloseDoTheirJobs()
    {
        QList<QUrl> opened;
        tastavia::desktop::setUrlOpener([&](const QUrl &url) { opened << url; });
        pointer->click({90, 15});
        pointer->click({40, 60});
        QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("http://www.olvani.example/staff/index.htm")),
                                      QUrl(QStringLiteral("http://www.olvani.example"))}));
        pointer->press({30, 20});
        QCOMPARE(picture("ImgClose"), QStringLiteral("CLOSE_DOWN"));
        pointer->release({100, 20});
        QCOMPARE(picture("ImgClose"), QStringLiteral("CLOSE_UP"));
        QVERIFY(keyboard->isVisible());
        pointer->click({30, 20});
        QVERIFY(!keyboard->isVisible());
    }

    void dragZoneFollowsTheLiveLayout_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("drags");
        QTest::newRow("y 84") << QPoint(120, 84) << true;
        QTest::newRow("y 85") << QPoint(120, 85) << false;
        QTest::newRow("x 684") << QPoint(684, 185) << false;
        QTest::newRow("x 685") << QPoint(685, 185) << true;
        QTest::newRow("frame below keys") << QPoint(300, 185) << false;
        QTest::newRow("advert strip") << QPoint(300, 15) << false;
    }
    void dragZoneFollowsTheLiveLayout()
    {
        QFETCH(QPoint, point);
        QFETCH(bool, drags);
        pointer->press(point);
        pointer->move(point);
        QCOMPARE(keyboard->dragging(), drags);
        pointer->release(point);
        QVERIFY(!keyboard->dragging());
    }

    void dragKeepsThePressedSpotUnderThePointer()
    {
        // Five 20-pixel moves one after another, then the same distance as
        // one move, as a fast flick arrives compressed: the first move
        // carries the window as far as every later one, also when it lies
        // past the window's edge.
        const auto drag = [&](const QList<int> &steps, QPoint grip = QPoint(120, 40)) {
            const QPoint before = keyboard->pos();
            const QPoint globalGrip = keyboard->mapToGlobal(grip);
            auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
                const QPointF local = keyboard->mapFromGlobal(QPointF(global));
                QMouseEvent event(type, local, QPointF(global), Qt::LeftButton, buttons, Qt::NoModifier);
                QApplication::sendEvent(keyboard.get(), &event);
            };
            send(QEvent::MouseButtonPress, globalGrip, Qt::LeftButton);
            for (int x : steps)
                send(QEvent::MouseMove, globalGrip + QPoint(x, 0), Qt::LeftButton);
            send(QEvent::MouseButtonRelease, globalGrip + QPoint(steps.last(), 0), Qt::NoButton);
            return keyboard->pos() - before;
        };
        QCOMPARE(drag({20, 40, 60, 80, 100}), QPoint(100, 0));
        QCOMPARE(drag({100}), QPoint(100, 0));
        QCOMPARE(drag({100}, QPoint(705, 60)), QPoint(100, 0));
        QVERIFY(!keyboard->dragging());
    }

    void advertStripClickOpensTheSiteOnlyStrictlyInside_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("opens");
        QTest::newRow("153,3") << QPoint(153, 3) << true;
        QTest::newRow("491,29") << QPoint(491, 29) << true;
        QTest::newRow("152,3") << QPoint(152, 3) << false;
        QTest::newRow("153,2") << QPoint(153, 2) << false;
    }
    void advertStripClickOpensTheSiteOnlyStrictlyInside()
    {
        QFETCH(QPoint, point);
        QFETCH(bool, opens);
        QList<QUrl> opened;
        tastavia::desktop::setUrlOpener([&](const QUrl &url) { opened << url; });
        pointer->click(point);
        pointer->click(point, Qt::RightButton);
        QCOMPARE(opened.size(), opens ? 1 : 0);
    }

    void tooltipsFollowTheSameHitTest_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QString>("hint");
        QTest::newRow("close") << QPoint(30, 20) << QString::fromUtf8("关闭");
        QTest::newRow("minimise") << QPoint(50, 20) << QString::fromUtf8("最小化");
        QTest::newRow("logo") << QPoint(40, 60) << QString::fromUtf8("访问Olvani");
        QTest::newRow("select patch") << QPoint(670, 60) << QString::fromUtf8("选择音色");
        QTest::newRow("quick patch 13") << QPoint(179 + 28 * 12 + 5, 60) << QString::fromUtf8("雨");
        QTest::newRow("a key") << QPoint(279, 160) << QString();
        QTest::newRow("background") << QPoint(300, 185) << QString();
    }
    void tooltipsFollowTheSameHitTest()
    {
        QFETCH(QPoint, point);
        QFETCH(QString, hint);
        QHelpEvent help(QEvent::ToolTip, point, keyboard->mapToGlobal(point));
        QApplication::sendEvent(keyboard.get(), &help);
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), hint);
        QToolTip::hideText();
    }

    void minimisingTakesTheOtherWindowsAlong()
    {
        QWidget other;
        other.show();
        keyboard->showMinimized();
        QTRY_VERIFY(!other.isVisible());
        keyboard->showNormal();
        QTRY_VERIFY(other.isVisible());
    }
};

QTEST_MAIN(MousePlayingTest)
#include "tst_mouseplaying.moc"
