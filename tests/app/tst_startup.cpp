// Start-up and shutdown of the whole program, in-process, with the recording
// fake standing in for the device library.
#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <app/Entry.h>
#include <app/Startup.h>
#include <keyboard/PianoMain.h>
#include <patches/Patch.h>
#include <patches/PatchState.h>
#include <promo/AD.h>
#include <resources/Resources.h>
#include <skin/Skin.h>

#include <QScreen>
#include <QtTest>

#include <csignal>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;
using Names = std::vector<std::string>;

namespace {

template <typename T> T *topLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<T *>(w))
            return found;
    return nullptr;
}

// What the screen held at the moment the event loop was asked to end.
struct ClosingScene {
    bool keyboardShown = false;
    bool patchSelectExists = false;
    bool patchSelectShown = false;
    bool adPlayerShown = false;
    bool splashExists = false;
};

tastavia::app::StartupPlatform noOtherCopy()
{
    tastavia::app::StartupPlatform platform;
    platform.findWindow = [](std::string_view) { return std::nullopt; };
    return platform;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

    ClosingScene scene;
    QMetaObject::Connection sceneWatch;

    // Runs the program. Once its event loop runs (the advert window exists
    // and the splash is gone), whileRunning looks at it; then the keyboard
    // window is closed as a user would, or, for a program that should end by
    // itself, the run is failed after five seconds.
    int runProgram(const tastavia::app::StartupPlatform &platform, bool closeKeyboard,
                   const std::function<void()> &whileRunning = {})
    {
        scene = {};
        sceneWatch = connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
            auto *keyboard = topLevel<TKeyboard>();
            auto *patchSelect = topLevel<tastavia::patches::TPatchSelect>();
            auto *adPlayer = topLevel<tastavia::promo::TADPlayer>();
            scene.keyboardShown = keyboard && keyboard->isVisible();
            scene.patchSelectExists = patchSelect;
            scene.patchSelectShown = patchSelect && patchSelect->isVisible();
            scene.adPlayerShown = adPlayer && adPlayer->isVisible();
            scene.splashExists = topLevel<tastavia::app::TLogo>();
        });
        QTimer guard;
        QElapsedTimer running;
        connect(&guard, &QTimer::timeout, [&] {
            const bool looping = topLevel<tastavia::promo::TADPlayer>() && !topLevel<tastavia::app::TLogo>();
            if (!looping)
                return;
            if (!running.isValid()) {
                running.start();
                if (whileRunning)
                    whileRunning();
                if (closeKeyboard)
                    topLevel<TKeyboard>()->close();
            } else if (running.elapsed() > 5000) {
                QCoreApplication::exit(99);
            }
        });
        guard.start(20);
        const int code = tastavia::app::run(*qApp, platform);
        disconnect(sceneWatch);
        return code;
    }

private slots:
    void init()
    {
        fakeDevice().reset();
        tastavia::patches::resetPatchState();
        IsNT5 = true;
    }

    void normalRunConnectsAfterTheTableAndDisconnectsOnClose()
    {
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        bool checkedMidSetUp = false;
        fakeDevice().onConnect = [&] {
            // The device may report notes from now on: the key table and the
            // patch state must already exist, the later windows not yet.
            auto *keyboard = topLevel<TKeyboard>();
            QVERIFY(keyboard);
            QCOMPARE(int(keyboard->GetNote(keyboard->control(QStringLiteral("ImgKey3C")))), 60);
            QCOMPARE(tastavia::patches::CurrentPatch, 1);
            QVERIFY(!topLevel<tastavia::patches::TPatchSelect>());
            auto *splash = topLevel<tastavia::app::TLogo>();
            QVERIFY(splash && splash->isVisible());
            QVERIFY(!splash->picture().isNull());
            // Scaled screens get the splash drawn at 2×, smoothly resized.
            for (const qreal ratio : {1.5, 2.0}) {
                const QImage scaled = splash->pictureAt(ratio);
                QCOMPARE(scaled.size(), QSize(qCeil(620 * ratio), qCeil(277 * ratio)));
                QCOMPARE(scaled.devicePixelRatio(), ratio);
            }
            QImage drawn = tastavia::app::decodeJpeg(tastavia::resources::splashJpegAt2x()).value_or(QImage());
            drawn.setDevicePixelRatio(2.0);
            QCOMPARE(splash->pictureAt(2.0), drawn);
            QCOMPARE(fakeDevice().window, keyboard->deviceHandle());
            checkedMidSetUp = true;
        };
        QCOMPARE(runProgram(noOtherCopy(), true), 0);
        QVERIFY(checkedMidSetUp);
        QCOMPARE(fakeDevice().callNames(),
                 (Names{"ConnectDevice", "SetMasterKeyVolume", "SetSlaveKeyVolume", "DisConnectDevice"}));
        QCOMPARE(fakeDevice().calls[1].args, std::vector<std::uint32_t>{127});
        QCOMPARE(fakeDevice().calls[2].args, std::vector<std::uint32_t>{127});
        QVERIFY(scene.adPlayerShown);
        QVERIFY(scene.patchSelectExists);
        QVERIFY(!scene.patchSelectShown);
        QVERIFY(!scene.splashExists);
        QVERIFY(!topLevel<TKeyboard>());
    }

    void windowsAreCentredAndSized()
    {
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        QRect keyboardPlace, adPlace;
        runProgram(noOtherCopy(), true, [&] {
            keyboardPlace = topLevel<TKeyboard>()->geometry();
            adPlace = topLevel<tastavia::promo::TADPlayer>()->geometry();
        });
        const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
        QCOMPARE(keyboardPlace.size(), QSize(714, 192));
        QCOMPARE(adPlace.size(), QSize(400, 356));
        QVERIFY((keyboardPlace.center() - centre).manhattanLength() <= 2);
        QVERIFY((adPlace.center() - centre).manhattanLength() <= 2);
    }

    void missingClipEndsWithoutConnecting_data()
    {
        QTest::addColumn<bool>("directoryInItsPlace");
        QTest::newRow("nothing there") << false;
        QTest::newRow("a directory named like the clip") << true;
    }
    void missingClipEndsWithoutConnecting()
    {
        QFETCH(bool, directoryInItsPlace);
        tastavia::testing::ClipDirectory noClip(false);
        noClip.enter();
        if (directoryInItsPlace)
            QVERIFY(QDir().mkpath(noClip.clipPath()));
        // Silent on screen, but the status says the start failed.
        QCOMPARE(runProgram(noOtherCopy(), false), 1);
        QCOMPARE(fakeDevice().callNames(), Names{"DisConnectDevice"});
        // The quit request waits for the loop: the other windows still appear.
        QVERIFY(scene.keyboardShown);
        QVERIFY(scene.adPlayerShown);
        QVERIFY(scene.patchSelectExists);
    }

    void clipBesideTheProgramDoesNotCount()
    {
        // Only the working directory is looked at.
        tastavia::testing::ClipDirectory noClip(false);
        noClip.enter();
        QVERIFY(QFile::exists(QStringLiteral(TASTAVIA_SOURCE_DIR "/Ad/ad01.avi")));
        runProgram(noOtherCopy(), false);
        QCOMPARE(fakeDevice().count("ConnectDevice"), 0);
    }

    void refusedConnectionStillSetsVolumesThenEnds()
    {
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        fakeDevice().connectAnswer = false;
        QCOMPARE(runProgram(noOtherCopy(), false), 1);
        QCOMPARE(fakeDevice().callNames(),
                 (Names{"ConnectDevice", "SetMasterKeyVolume", "SetSlaveKeyVolume", "DisConnectDevice"}));
        QVERIFY(scene.adPlayerShown);
        QVERIFY(!scene.splashExists);
    }

    void failedVersionQueryEndsAfterTheSplash()
    {
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        auto platform = noOtherCopy();
        bool splashShown = false;
        platform.queryVersion = [&]() -> std::optional<tastavia::desktop::VersionInfo> {
            auto *splash = topLevel<tastavia::app::TLogo>();
            splashShown = splash && splash->isVisible();
            return std::nullopt;
        };
        QCOMPARE(tastavia::app::run(*qApp, platform), 1);
        QVERIFY(splashShown);
        QVERIFY(fakeDevice().calls.empty());
        QVERIFY(!topLevel<TKeyboard>());
        QVERIFY(!topLevel<tastavia::app::TLogo>());
    }

    void terminationDuringTheSplashEndsTheRun()
    {
        // The splash paints before any event loop runs: the signal is
        // handled then, with no loop to end, and must still end the run.
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        auto platform = noOtherCopy();
        platform.queryVersion = [] {
            ::raise(SIGTERM);
            QCoreApplication::processEvents();
            return tastavia::desktop::queryVersion();
        };
        QCOMPARE(runProgram(platform, false), 0);
        QCOMPARE(fakeDevice().count("DisConnectDevice"), 1);
    }

    void runningCopyIsRestoredAndThisOneEnds_data()
    {
        QTest::addColumn<bool>("wasVisible");
        QTest::newRow("visible copy is raised") << true;
        QTest::newRow("minimised copy is only restored") << false;
    }
    void runningCopyIsRestoredAndThisOneEnds()
    {
        QFETCH(bool, wasVisible);
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        tastavia::app::StartupPlatform platform;
        std::vector<std::string> steps;
        platform.findWindow = [&](std::string_view title) {
            steps.push_back("find " + std::string(title));
            return std::optional<tastavia::desktop::WindowId>(0x400007);
        };
        platform.isWindow = [&](tastavia::desktop::WindowId id) { return id == 0x400007; };
        platform.showNormal = [&](tastavia::desktop::WindowId) {
            steps.push_back("show");
            return wasVisible;
        };
        platform.setForeground = [&](tastavia::desktop::WindowId) { steps.push_back("foreground"); };
        platform.queryVersion = [&]() -> std::optional<tastavia::desktop::VersionInfo> {
            steps.push_back("version");
            return std::nullopt;
        };
        QCOMPARE(tastavia::app::run(*qApp, platform), 0);
        Names expected{"find Tastavia", "show"};
        if (wasVisible)
            expected.push_back("foreground");
        QCOMPARE(steps, expected);
        QVERIFY(fakeDevice().calls.empty());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void oldSystemsGetTheRectangularSkins()
    {
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        auto platform = noOtherCopy();
        platform.queryVersion = [] { return std::optional(tastavia::desktop::VersionInfo{1, 4, 90}); };
        QString keyboardPicture;
        QSize patchSize;
        bool patchKeyed = true;
        runProgram(platform, true, [&] {
            keyboardPicture = topLevel<TKeyboard>()->background()->pictureName();
            auto *patchSelect = topLevel<tastavia::patches::TPatchSelect>();
            patchSize = patchSelect->size();
            patchKeyed = patchSelect->colourKey();
        });
        QVERIFY(!IsNT5);
        QCOMPARE(keyboardPicture, QStringLiteral("BACKGROUND_WINDOWS"));
        QCOMPARE(patchSize, QSize(311, 324));
        QVERIFY(!patchKeyed);
    }

    void closingTheOtherWindowsOnlyHidesThem()
    {
        tastavia::testing::ClipDirectory clips;
        clips.enter();
        bool adHidden = false;
        bool stillRunning = false;
        runProgram(noOtherCopy(), true, [&] {
            auto *adPlayer = topLevel<tastavia::promo::TADPlayer>();
            adPlayer->close();
            adHidden = !adPlayer->isVisible();
            topLevel<tastavia::patches::TPatchSelect>()->close();
            QCoreApplication::processEvents();
            stillRunning = topLevel<TKeyboard>()->isVisible();
        });
        QVERIFY(adHidden);
        QVERIFY(stillRunning);
        QCOMPARE(fakeDevice().count("DisConnectDevice"), 1);
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
