// Bad input never crashes the player: files that are not clips are refused
// by open() with a code that has a text, and damage found while playing
// ends the request with exactly one Failure notice.
#include "ClipPlayer.h"
#include "TestClips.h"
#include "FileSeek.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using tastavia::media::ClipPlayer;
using tastavia::media::Notice;
using namespace cliptest;

namespace {

// A valid WAV file: a container FFmpeg knows, with sound and no picture.
QByteArray soundOnlyWav()
{
    const quint32 samples = 8000;
    QByteArray wav;
    auto put32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char *>(&v), 4); };
    auto put16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char *>(&v), 2); };
    wav.append("RIFF");
    put32(36 + samples * 2);
    wav.append("WAVEfmt ");
    put32(16);
    put16(1);      // PCM
    put16(1);      // mono
    put32(8000);
    put32(16000);
    put16(2);
    put16(16);
    wav.append("data");
    put32(samples * 2);
    wav.append(QByteArray(int(samples * 2), '\0'));
    return wav;
}

} // namespace

class BadClipsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void badFile_isRefusedWithAText_data();
    void badFile_isRefusedWithAText();
    void errorText_isEmptyForCodesThatAreNotOurs();
    void formatComesFromContents_notFromName();
    void damagedPicture_endsPlayWithFailure();
    void fileCutInsideAPicture_endsPlayWithFailure();
    void randomDamage_neverCrashes_andEachPlayEndsOnce();
    void unfinishedWrite_leavesTheOldClipInPlace();
    void seekFromAHostileIndex_isRefusedNotWrapped();

private:
    QString write(const QString &name, const QByteArray &data);

    QTemporaryDir dir_;
    QString good_;
    QByteArray goodBytes_;
};

void BadClipsTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    good_ = dir_.filePath(QStringLiteral("good.avi"));
    // Every picture a key picture, so damage to one stays in that one.
    QCOMPARE(makeClip(good_, ClipSpec{12, 50, QSize(32, 16), 1}), QString());
    goodBytes_ = readAll(good_);
    QCOMPARE(pictureChunks(goodBytes_).size(), 12);
}

QString BadClipsTest::write(const QString &name, const QByteArray &data)
{
    const QString path = dir_.filePath(name);
    if (!writeAll(path, data))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void BadClipsTest::badFile_isRefusedWithAText_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("expected");

    const auto chunks = pictureChunks(goodBytes_);
    const qsizetype firstPicture = chunks.first().first;
    QByteArray scrambledHeader = goodBytes_;
    for (int i = 12; i < 600; ++i)
        scrambledHeader[i] = char(i * 37 + 11);
    QByteArray noise(20000, '\0');
    QRandomGenerator random(7);
    for (char &c : noise)
        c = char(random.bounded(256));

    QTest::newRow("missing") << dir_.filePath(QStringLiteral("nothing.avi")) << int(ClipPlayer::FileNotFound);
    QTest::newRow("empty path") << QString() << int(ClipPlayer::FileNotFound);
    QTest::newRow("directory") << dir_.path() << int(ClipPlayer::FileUnreadable);
    QTest::newRow("empty") << write(QStringLiteral("empty.avi"), {}) << int(ClipPlayer::NotAClip);
    QTest::newRow("text") << write(QStringLiteral("text.avi"), QByteArray("Tastavia advert\nfree download\n").repeated(40))
                          << int(ClipPlayer::NotAClip);
    QTest::newRow("noise") << write(QStringLiteral("noise.avi"), noise) << int(ClipPlayer::NotAClip);
    QTest::newRow("sound only") << write(QStringLiteral("sound.wav"), soundOnlyWav()) << int(ClipPlayer::NoPicture);
    QTest::newRow("cut in the header") << write(QStringLiteral("cut-header.avi"), goodBytes_.left(100))
                                       << int(ClipPlayer::NotAClip);
    QTest::newRow("cut before the first picture") << write(QStringLiteral("cut-movi.avi"), goodBytes_.left(firstPicture - 8))
                                                  << int(ClipPlayer::DamagedClip);
    QTest::newRow("cut inside the first picture") << write(QStringLiteral("cut-first.avi"), goodBytes_.left(firstPicture + 10))
                                                  << int(ClipPlayer::DamagedClip);
    QTest::newRow("scrambled header") << write(QStringLiteral("scrambled.avi"), scrambledHeader) << -1;
    const QString huge = dir_.filePath(QStringLiteral("huge.avi"));
    QCOMPARE(makeClip(huge, {1, 25, QSize(2048, 1152), 0}), QString());
    QTest::newRow("picture larger than full HD") << huge << int(ClipPlayer::PictureTooLarge);
}

void BadClipsTest::badFile_isRefusedWithAText()
{
    QFETCH(QString, path);
    QFETCH(int, expected);
    ClipPlayer player;
    QSignalSpy done(&player, &ClipPlayer::completed);
    // A clip that was open is closed by the failed open, as a new open
    // always closes the old clip first.
    QCOMPARE(player.open(good_), int(ClipPlayer::NoError));
    const int code = player.open(path);
    if (expected >= 0)
        QCOMPARE(code, expected);
    QVERIFY(code != ClipPlayer::NoError);
    QVERIFY(!ClipPlayer::errorText(code).isEmpty());
    QVERIFY(!player.isOpen());
    QCOMPARE(player.frameIndex(), -1);
    QVERIFY(player.currentFrame().isNull());
    QCOMPARE(player.play(true), int(ClipPlayer::NotOpen));
    QCOMPARE(player.seekToStart(), int(ClipPlayer::NotOpen));
    // The player is still good for a real clip.
    QCOMPARE(player.open(good_), int(ClipPlayer::NoError));
    QTest::qWait(20);
    QCOMPARE(done.count(), 0);
}

void BadClipsTest::errorText_isEmptyForCodesThatAreNotOurs()
{
    QSet<QString> texts;
    for (int code = ClipPlayer::NotOpen; code <= ClipPlayer::PictureTooLarge; ++code)
        texts.insert(ClipPlayer::errorText(code));
    QVERIFY(!texts.contains(QString()));
    QCOMPARE(texts.size(), ClipPlayer::PictureTooLarge - ClipPlayer::NotOpen + 1);
    QVERIFY(ClipPlayer::errorText(ClipPlayer::NoError).isEmpty());
    QVERIFY(ClipPlayer::errorText(-1).isEmpty());
    QVERIFY(ClipPlayer::errorText(ClipPlayer::PictureTooLarge + 1).isEmpty());
    QVERIFY(ClipPlayer::errorText(275).isEmpty());
}

void BadClipsTest::formatComesFromContents_notFromName()
{
    ClipPlayer player;
    QCOMPARE(player.open(write(QStringLiteral("clip.txt"), goodBytes_)), int(ClipPlayer::NoError));
    QCOMPARE(player.open(write(QStringLiteral("words.avi"), QByteArray("RIFF not really\n").repeated(20))),
             int(ClipPlayer::NotAClip));
}

void BadClipsTest::damagedPicture_endsPlayWithFailure()
{
    QByteArray damaged = goodBytes_;
    const auto chunk = pictureChunks(damaged).at(5);
    for (qsizetype i = 0; i < chunk.second; ++i)
        damaged[chunk.first + i] = char(0xA5 ^ (i * 13));
    const QString path = write(QStringLiteral("damaged.avi"), damaged);

    ClipPlayer player;
    QCOMPARE(player.open(path), int(ClipPlayer::NoError));
    QSignalSpy done(&player, &ClipPlayer::completed);
    player.play(true);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(noticesOf(done), QList<Notice>{Notice::Failure});
    // The last good picture stays on show.
    QCOMPARE(player.frameIndex(), 4);
    QCOMPARE(indexShown(player.currentFrame(), 12), 4);
    // Playing again starts over and fails again at the same place.
    QCOMPARE(player.play(true), int(ClipPlayer::NoError));
    QCOMPARE(player.frameIndex(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QCOMPARE(noticesOf(done).last(), Notice::Failure);
}

void BadClipsTest::fileCutInsideAPicture_endsPlayWithFailure()
{
    const auto chunk = pictureChunks(goodBytes_).at(6);
    const QString path = write(QStringLiteral("cut.avi"), goodBytes_.left(chunk.first + chunk.second / 2));
    ClipPlayer player;
    QCOMPARE(player.open(path), int(ClipPlayer::NoError));
    QSignalSpy done(&player, &ClipPlayer::completed);
    player.play(true);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(noticesOf(done), QList<Notice>{Notice::Failure});
    QCOMPARE(player.frameIndex(), 5);
}

void BadClipsTest::randomDamage_neverCrashes_andEachPlayEndsOnce()
{
    // Fast pictures keep the many rounds short.
    const QString fast = dir_.filePath(QStringLiteral("fast.avi"));
    QCOMPARE(makeClip(fast, ClipSpec{10, 100, QSize(32, 16), 3}), QString());
    const QByteArray fastBytes = readAll(fast);
    // Most of an AVI is header; cuts are aimed at the pictures instead.
    const qsizetype firstPicture = pictureChunks(fastBytes).first().first;

    QRandomGenerator random(20240611);
    int opened = 0;
    for (int round = 0; round < 80; ++round) {
        QByteArray bytes = fastBytes;
        if (round % 3 == 0) {
            bytes.truncate(random.bounded(firstPicture, bytes.size()));
        } else {
            const int hits = 1 + random.bounded(12);
            for (int i = 0; i < hits; ++i)
                bytes[random.bounded(bytes.size())] = char(random.bounded(256));
        }
        const QString path = write(QStringLiteral("fuzz.avi"), bytes);
        ClipPlayer player;
        QSignalSpy done(&player, &ClipPlayer::completed);
        const int code = player.open(path);
        if (code != ClipPlayer::NoError) {
            QVERIFY2(!ClipPlayer::errorText(code).isEmpty(), qPrintable(QString::number(code)));
            continue;
        }
        ++opened;
        QCOMPARE(player.play(true), int(ClipPlayer::NoError));
        // Damaged timing may make a picture stay up for seconds; the close
        // then ends the request instead.
        (void)QTest::qWaitFor([&] { return done.count() > 0; }, 1000);
        player.close();
        QTest::qWait(1);
        QVERIFY2(done.count() == 1, qPrintable(QStringLiteral("round %1: %2 notices").arg(round).arg(done.count())));
    }
    QVERIFY(opened > 20);
}

void BadClipsTest::unfinishedWrite_leavesTheOldClipInPlace()
{
    // The committed advert clip is rewritten in place by its generator; a
    // run that stops half-way must not leave half a clip behind.
    const QString path = write(QStringLiteral("kept.avi"), goodBytes_);
    {
        tastavia::clipwriter::ClipWriter writer(path, {QSize(32, 16), 25, 2, 0});
        QVERIFY(writer.begin());
        QImage picture(32, 16, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(writer.addFrame(picture));
    }
    QCOMPARE(readAll(path), goodBytes_);

    tastavia::clipwriter::ClipWriter odd(path, {QSize(33, 16), 25, 2, 0});
    QVERIFY(!odd.begin());
    QVERIFY(!odd.errorString().isEmpty());
    QCOMPARE(readAll(path), goodBytes_);
}

QTEST_MAIN(BadClipsTest)
void BadClipsTest::seekFromAHostileIndex_isRefusedNotWrapped()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("clip.avi"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.write(QByteArray(100, 'x'));
    QVERIFY(file.seek(10));
    for (const int whence : {SEEK_CUR, SEEK_END}) {
        QCOMPARE(tastavia::media::seekFileDevice(&file, INT64_MAX, whence), int64_t(AVERROR(EINVAL)));
        QCOMPARE(file.pos(), 10);
    }
    QCOMPARE(tastavia::media::seekFileDevice(&file, -5, SEEK_END), int64_t(95));
}

#include "tst_badclips.moc"
