// Playing, pacing, the completion notices and drawing, against clips whose
// every picture is one colour.
#include "ClipPlayer.h"
#include "TestClips.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

using tastavia::media::ClipPlayer;
using tastavia::media::Notice;
using namespace cliptest;
using Codec = tastavia::clipwriter::ClipFormat::Codec;

namespace {

QList<int> indicesOf(const QSignalSpy &spy)
{
    QList<int> indices;
    for (const QList<QVariant> &args : spy)
        indices << args.at(0).toInt();
    return indices;
}

QList<int> range(int from, int to)
{
    QList<int> values;
    for (int i = from; i <= to; ++i)
        values << i;
    return values;
}

} // namespace

class ClipPlayerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void playToEnd_sendsOneQueuedSuccessful();
    void loopingFromTheNotice_restartsFromFirstPicture_data();
    void loopingFromTheNotice_restartsFromFirstPicture();
    void playAtEnd_rewindsFirst();
    void secondPlay_supersedesFirst_withoutRestarting();
    void playWithoutNotify_stillSupersedes_andSendsNothing();
    void interruptedPlay_isAborted_data();
    void interruptedPlay_isAborted();
    void destruction_deliversOwedNotices_andRefusesNewWork();
    void everyPixelOfThePicture_isDecoded_data();
    void everyPixelOfThePicture_isDecoded();
    void display_showsEachPicture_andTakesNoPointer();
    void display_scalesToFit_andForgetsClosedClip();
    void displayDestroyedWhilePlaying_playContinues();

private:
    QTemporaryDir dir_;
    QString steps_;  // 8 pictures at 25 fps
    const int stepFrames_ = 8;
};

void ClipPlayerTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    steps_ = dir_.filePath(QStringLiteral("steps.avi"));
    // Slow enough that a machine stalled for a moment cannot race through
    // the whole clip between two looks: the player catches up at most a
    // quarter of a second, which is two or three pictures here.
    QCOMPARE(makeClip(steps_, ClipSpec{stepFrames_, 10}), QString());
}

void ClipPlayerTest::playToEnd_sendsOneQueuedSuccessful()
{
    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    QVERIFY(player.isOpen());
    // Opening waits for the first picture.
    QCOMPARE(player.frameIndex(), 0);
    QCOMPARE(indexShown(player.currentFrame(), stepFrames_), 0);

    QSignalSpy done(&player, &ClipPlayer::completed);
    QSignalSpy shown(&player, &ClipPlayer::frameShown);
    QCOMPARE(player.play(true), int(ClipPlayer::NoError));
    QVERIFY(player.isPlaying());
    QCOMPARE(done.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(noticesOf(done), QList<Notice>{Notice::Successful});
    QCOMPARE(indicesOf(shown), range(1, stepFrames_ - 1));
    QCOMPARE(player.frameIndex(), stepFrames_ - 1);
    QCOMPARE(indexShown(player.currentFrame(), stepFrames_), stepFrames_ - 1);
    QVERIFY(!player.isPlaying());
    QTest::qWait(150);
    QCOMPARE(done.count(), 1);
}

void ClipPlayerTest::loopingFromTheNotice_restartsFromFirstPicture_data()
{
    // A small clip is replayed from memory after its first pass; a large
    // one is decoded again each time. Both must loop the same way, whether
    // read in-process or through the FFmpeg module.
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Codec>("codec");
    QTest::newRow("small clip") << QSize(64, 32) << Codec::MotionJpeg;
    QTest::newRow("clip too large to hold") << QSize(720, 480) << Codec::MotionJpeg;
    QTest::newRow("MPEG-4, large") << QSize(720, 480) << Codec::Mpeg4;
}

void ClipPlayerTest::loopingFromTheNotice_restartsFromFirstPicture()
{
    QFETCH(QSize, size);
    QFETCH(Codec, codec);
    const QString path = dir_.filePath(QStringLiteral("loop%1-%2.avi").arg(size.width()).arg(int(codec)));
    QCOMPARE(makeClip(path, ClipSpec{stepFrames_, 25, size, 3, codec}), QString());

    // The advert strip's loop: on Successful, rewind (waiting) and play.
    ClipPlayer player;
    QCOMPARE(player.open(path), int(ClipPlayer::NoError));
    QSignalSpy done(&player, &ClipPlayer::completed);
    QSignalSpy shown(&player, &ClipPlayer::frameShown);
    QList<int> mismatches;
    connect(&player, &ClipPlayer::frameShown, this, [&](int index) {
        if (indexShown(player.currentFrame(), stepFrames_) != index)
            mismatches << index;
    });
    QList<int> afterRewind;
    int loops = 0;
    connect(&player, &ClipPlayer::completed, this, [&](Notice notice) {
        if (notice != Notice::Successful || ++loops == 3)
            return;
        QCOMPARE(player.seekToStart(), int(ClipPlayer::NoError));
        afterRewind << indexShown(player.currentFrame(), stepFrames_) << player.frameIndex();
        QCOMPARE(player.play(true), int(ClipPlayer::NoError));
    });
    player.play(true);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 3, 10000);
    QCOMPARE(noticesOf(done), QList<Notice>(3, Notice::Successful));
    QCOMPARE(afterRewind, (QList<int>{0, 0, 0, 0}));
    QCOMPARE(mismatches, QList<int>{});
    const QList<int> oneRun = range(1, stepFrames_ - 1);
    QCOMPARE(indicesOf(shown), oneRun + QList<int>{0} + oneRun + QList<int>{0} + oneRun);
}

void ClipPlayerTest::playAtEnd_rewindsFirst()
{
    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    QSignalSpy done(&player, &ClipPlayer::completed);
    player.play(true);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);

    QSignalSpy shown(&player, &ClipPlayer::frameShown);
    QCOMPARE(player.play(true), int(ClipPlayer::NoError));
    QCOMPARE(player.frameIndex(), 0);
    QCOMPARE(indexShown(player.currentFrame(), stepFrames_), 0);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QCOMPARE(noticesOf(done), (QList<Notice>{Notice::Successful, Notice::Successful}));
    QCOMPARE(indicesOf(shown), range(0, stepFrames_ - 1));
}

void ClipPlayerTest::secondPlay_supersedesFirst_withoutRestarting()
{
    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    QSignalSpy done(&player, &ClipPlayer::completed);
    QSignalSpy shown(&player, &ClipPlayer::frameShown);
    player.play(true);
    QTRY_VERIFY_WITH_TIMEOUT(player.frameIndex() >= 2, 5000);
    QCOMPARE(player.play(true), int(ClipPlayer::NoError));
    QCOMPARE(done.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QCOMPARE(noticesOf(done), (QList<Notice>{Notice::Superseded, Notice::Successful}));
    QCOMPARE(indicesOf(shown), range(1, stepFrames_ - 1));
}

void ClipPlayerTest::playWithoutNotify_stillSupersedes_andSendsNothing()
{
    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    QSignalSpy done(&player, &ClipPlayer::completed);
    player.play(true);
    QTRY_VERIFY_WITH_TIMEOUT(player.frameIndex() >= 1, 5000);
    player.play(false);
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    QCOMPARE(player.frameIndex(), stepFrames_ - 1);
    QTest::qWait(100);
    QCOMPARE(noticesOf(done), QList<Notice>{Notice::Superseded});
}

void ClipPlayerTest::interruptedPlay_isAborted_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("seek to start") << QStringLiteral("seek");
    QTest::newRow("close") << QStringLiteral("close");
    QTest::newRow("open another clip") << QStringLiteral("open");
    QTest::newRow("close from a frame handler") << QStringLiteral("close-in-handler");
    QTest::newRow("destroy") << QStringLiteral("destroy");
}

void ClipPlayerTest::interruptedPlay_isAborted()
{
    QFETCH(QString, how);
    auto player = std::make_unique<ClipPlayer>();
    QCOMPARE(player->open(steps_), int(ClipPlayer::NoError));
    QSignalSpy done(player.get(), &ClipPlayer::completed);
    if (how == QLatin1String("close-in-handler")) {
        connect(player.get(), &ClipPlayer::frameShown, player.get(), [&](int index) {
            if (index == 3)
                player->close();
        });
    }
    player->play(true);
    if (how == QLatin1String("close-in-handler")) {
        QTRY_VERIFY_WITH_TIMEOUT(!player->isOpen(), 5000);
        QCOMPARE(player->frameIndex(), -1);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(player->frameIndex() >= 2, 5000);
        if (how == QLatin1String("seek")) {
            QCOMPARE(player->seekToStart(), int(ClipPlayer::NoError));
            QCOMPARE(player->frameIndex(), 0);
            QCOMPARE(indexShown(player->currentFrame(), stepFrames_), 0);
        } else if (how == QLatin1String("close")) {
            player->close();
        } else if (how == QLatin1String("open")) {
            QCOMPARE(player->open(steps_), int(ClipPlayer::NoError));
            QCOMPARE(player->frameIndex(), 0);
        } else {
            player.reset();
            QCOMPARE(noticesOf(done), QList<Notice>{Notice::Aborted});
            return;
        }
        QCOMPARE(done.count(), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(noticesOf(done), QList<Notice>{Notice::Aborted});
    // Nothing plays on after the interruption.
    const int index = player->frameIndex();
    QTest::qWait(200);
    QCOMPARE(player->frameIndex(), index);
    QCOMPARE(done.count(), 1);
    QVERIFY(!player->isPlaying());
    QCOMPARE(player->isOpen(), how == QLatin1String("seek") || how == QLatin1String("open"));
}

void ClipPlayerTest::destruction_deliversOwedNotices_andRefusesNewWork()
{
    auto player = std::make_unique<ClipPlayer>();
    QCOMPARE(player->open(steps_), int(ClipPlayer::NoError));
    QSignalSpy done(player.get(), &ClipPlayer::completed);
    QList<int> refusals;
    ClipPlayer *dying = player.get();
    connect(dying, &ClipPlayer::completed, this, [&, dying] {
        refusals << dying->open(steps_) << dying->play(true);
    });
    player->play(true);
    player->play(true);   // the first is now owed a Superseded, not yet sent
    player.reset();
    QCOMPARE(noticesOf(done), (QList<Notice>{Notice::Superseded, Notice::Aborted}));
    QCOMPARE(refusals, (QList<int>{ClipPlayer::NotOpen, ClipPlayer::NotOpen,
                                   ClipPlayer::NotOpen, ClipPlayer::NotOpen}));
}

void ClipPlayerTest::everyPixelOfThePicture_isDecoded_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Codec>("codec");
    QTest::newRow("the strip, 340 x 28") << QSize(340, 28) << Codec::MotionJpeg;
    QTest::newRow("50 x 10") << QSize(50, 10) << Codec::MotionJpeg;
    QTest::newRow("16 x 16") << QSize(16, 16) << Codec::MotionJpeg;
    QTest::newRow("MPEG-4, 340 x 28") << QSize(340, 28) << Codec::Mpeg4;
    QTest::newRow("MPEG-4, 50 x 10") << QSize(50, 10) << Codec::Mpeg4;
}

void ClipPlayerTest::everyPixelOfThePicture_isDecoded()
{
    // Converters that work in blocks of pixels can skip a ragged right
    // edge and leave whatever the memory held.
    QFETCH(QSize, size);
    QFETCH(Codec, codec);
    const QString path = dir_.filePath(QStringLiteral("size%1x%2-%3.avi").arg(size.width()).arg(size.height()).arg(int(codec)));
    QCOMPARE(makeClip(path, ClipSpec{2, 25, size, 0, codec}), QString());
    ClipPlayer player;
    QCOMPARE(player.open(path), int(ClipPlayer::NoError));
    const QImage picture = player.currentFrame();
    QCOMPARE(picture.size(), size);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qAlpha(pixel) != 255 || !near(QColor(pixel), colourOf(0)))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(pixel, 8, 16)));
        }
    }
}

void ClipPlayerTest::display_showsEachPicture_andTakesNoPointer()
{
    QWidget window;
    window.resize(200, 80);
    auto *strip = new QWidget(&window);
    strip->setGeometry(10, 10, 64, 32);
    strip->setAttribute(Qt::WA_TransparentForMouseEvents);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    player.setDisplay(strip);
    QCOMPARE(indexShown(strip->grab().toImage(), stepFrames_), 0);

    // What the widget shows follows the picture on show while playing.
    QList<int> painted;
    connect(&player, &ClipPlayer::frameShown, this, [&](int index) {
        if (index == 4)
            painted << indexShown(strip->grab().toImage(), stepFrames_);
    });
    QSignalSpy done(&player, &ClipPlayer::completed);
    player.play(true);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(painted, QList<int>{4});
    QCOMPARE(indexShown(strip->grab().toImage(), stepFrames_), stepFrames_ - 1);

    // The window routes the pointer itself: the strip must stay see-through
    // and gain no child that could catch a press.
    QVERIFY(strip->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY(strip->findChildren<QWidget *>().isEmpty());
    QCOMPARE(window.childAt(20, 20), nullptr);
}

void ClipPlayerTest::display_scalesToFit_andForgetsClosedClip()
{
    QWidget strip;
    strip.resize(150, 20);
    QPalette palette = strip.palette();
    palette.setColor(QPalette::Window, Qt::black);
    strip.setPalette(palette);
    strip.setAutoFillBackground(true);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));

    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    player.setDisplay(&strip);
    const QImage shot = strip.grab().toImage();
    for (const QPoint corner : {QPoint(1, 1), QPoint(148, 1), QPoint(1, 18), QPoint(148, 18)})
        QVERIFY2(near(shot.pixelColor(corner), colourOf(0)), qPrintable(QStringLiteral("corner %1,%2").arg(corner.x()).arg(corner.y())));

    player.close();
    QCOMPARE(strip.grab().toImage().pixelColor(75, 10), QColor(Qt::black));
    // Drawing resumes with the next clip, and stops once detached.
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    QVERIFY(near(strip.grab().toImage().pixelColor(75, 10), colourOf(0)));
    player.setDisplay(nullptr);
    QCOMPARE(strip.grab().toImage().pixelColor(75, 10), QColor(Qt::black));
}

void ClipPlayerTest::displayDestroyedWhilePlaying_playContinues()
{
    ClipPlayer player;
    QCOMPARE(player.open(steps_), int(ClipPlayer::NoError));
    auto strip = std::make_unique<QWidget>();
    strip->resize(64, 32);
    strip->show();
    player.setDisplay(strip.get());
    QSignalSpy done(&player, &ClipPlayer::completed);
    player.play(true);
    QTRY_VERIFY_WITH_TIMEOUT(player.frameIndex() >= 2, 5000);
    strip.reset();
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(noticesOf(done), QList<Notice>{Notice::Successful});
}

QTEST_MAIN(ClipPlayerTest)
#include "tst_clipplayer.moc"
