// The advert strip on the keyboard window: the clip loops from its first
// picture, stops for good on any other ending, and a clip that exists but
// cannot be opened is reported while the keyboard stays playable.
#include <ClipDirectory.h>
#include <ClipWriter.h>
#include <FakeKorvalink.h>
#include <PointerDriver.h>
#include <keyboard/PianoMain.h>
#include <platform/media/ClipPlayer.h>

#include <QMessageBox>
#include <QtTest>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;
using tastavia::media::Notice;

namespace {

QColor colourOf(int index) { return QColor::fromHsv((index * 90) % 360, 220, 230); }

// A four-picture clip at 25 pictures a second: 160 ms a loop.
void writeShortClip(const QString &path)
{
    QList<QImage> frames;
    for (int i = 0; i < 4; ++i) {
        QImage frame(340, 28, QImage::Format_RGB888);
        frame.fill(colourOf(i));
        frames << frame;
    }
    const QString error = tastavia::clipwriter::writeClip(path, {QSize(340, 28), 25, 2, 0}, frames);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QString closeNextBox()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
            const QString text = box->windowTitle() + QLatin1Char('|') + box->text();
            box->accept();
            return text;
        }
    return {};
}

} // namespace

class AdvertStripTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<tastavia::testing::ClipDirectory> clips;
    std::unique_ptr<TKeyboard> keyboard;

    // Builds the keyboard window; any box it opens is closed and returned.
    QString createKeyboard()
    {
        QString boxText;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (boxText.isEmpty())
                boxText = closeNextBox();
        });
        closer.start(50);
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        // The strip rests while nobody can see it.
        keyboard->show();
        return boxText;
    }

private slots:
    void init()
    {
        fakeDevice().reset();
        clips = std::make_unique<tastavia::testing::ClipDirectory>();
        clips->enter();
    }
    void cleanup()
    {
        keyboard.reset();
        clips.reset();
    }

    void clipLoopsFromItsFirstPicture()
    {
        writeShortClip(clips->clipPath());
        QCOMPARE(createKeyboard(), QString());
        QCOMPARE(keyboard->Ad()->width(), 340);
        QVERIFY(keyboard->advert()->isPlaying());
        QList<int> shown;
        connect(keyboard->advert(), &tastavia::media::ClipPlayer::frameShown, [&](int index) { shown << index; });
        QTRY_VERIFY_WITH_TIMEOUT(shown.count(0) >= 3, 5000);
        // Every restart begins with the first picture and runs in order.
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY(shown[i] == shown[i - 1] + 1 || shown[i] == 0);
        QVERIFY(keyboard->advert()->isPlaying());
        QCOMPARE(fakeDevice().count("ConnectDevice"), 1);

        // Minimised, the strip rests where it stands and goes on from there.
        keyboard->showMinimized();
        QTest::qWait(100);
        shown.clear();
        const int restingAt = keyboard->advert()->frameIndex();
        QTest::qWait(300);
        QVERIFY2(shown.isEmpty(), "the strip played on while minimised");
        QVERIFY(keyboard->advert()->isPlaying());
        keyboard->showNormal();
        QTRY_VERIFY(!shown.isEmpty());
        QCOMPARE(shown.front(), restingAt == 3 ? 0 : restingAt + 1);
    }

    void otherEndingsStopTheLoop_data()
    {
        QTest::addColumn<Notice>("notice");
        QTest::newRow("superseded") << Notice::Superseded;
        QTest::newRow("aborted") << Notice::Aborted;
        QTest::newRow("failure") << Notice::Failure;
    }
    void otherEndingsStopTheLoop()
    {
        QFETCH(Notice, notice);
        writeShortClip(clips->clipPath());
        createKeyboard();
        // Stopped with the clip still open, so a replay would be possible;
        // the rewind also owes the strip's play request an Aborted notice.
        QCOMPARE(keyboard->advert()->seekToStart(), 0);
        keyboard->AdNotify(notice);
        QTest::qWait(300);
        QVERIFY(keyboard->advert()->isOpen());
        QVERIFY(!keyboard->advert()->isPlaying());
        QCOMPARE(keyboard->advert()->frameIndex(), 0);
    }

    void successfulEndingRewindsAndPlaysAgain()
    {
        writeShortClip(clips->clipPath());
        createKeyboard();
        QTRY_VERIFY(keyboard->advert()->frameIndex() >= 2);
        keyboard->AdNotify(Notice::Successful);
        QCOMPARE(keyboard->advert()->frameIndex(), 0);
        QVERIFY(keyboard->advert()->isPlaying());
    }

    void damagedClipIsReportedAndTheKeyboardStillPlays_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("text") << QByteArray("this is not a clip\n");
        QTest::newRow("truncated") << QByteArray("truncate");
    }
    void damagedClipIsReportedAndTheKeyboardStillPlays()
    {
        QFETCH(QByteArray, damage);
        writeShortClip(clips->clipPath());
        QFile file(clips->clipPath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (damage == "truncate")
            bytes.truncate(300);
        else
            bytes = damage;
        file.resize(0);
        file.write(bytes);
        file.close();

        const QString box = createKeyboard();
        QVERIFY2(box.startsWith(QStringLiteral("Tastavia|")), qPrintable(box));
        QVERIFY(box.size() > 9);
        QCOMPARE(fakeDevice().count("ConnectDevice"), 1);
        keyboard->show();
        tastavia::testing::PointerDriver pointer(keyboard.get());
        pointer.press({279, 160});
        QCOMPARE(fakeDevice().sent(), std::vector<std::uint32_t>{0x7F3C90});
    }
};

QTEST_MAIN(AdvertStripTest)
#include "tst_advertstrip.moc"
