// The key table: which widget is which note, which keys are black, and which
// key a pointer press at a point lands on.
#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <keyboard/PianoMain.h>
#include <resources/Resources.h>

#include <QMouseEvent>
#include <QtTest>

using tastavia::keyboard::TKeyboard;
using tastavia::skin::ImageControl;

namespace {

const char *const Letters[12] = {"C", "CS", "D", "DS", "E", "F", "FS", "G", "GS", "A", "AS", "B"};

QString nameOfNote(int note)
{
    return QStringLiteral("ImgKey%1%2").arg((note - 36) / 12 + 1).arg(QLatin1String(Letters[(note - 36) % 12]));
}

int differingPixels(const QImage &a, const QImage &b, int *row)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ++count;
                *row = y;
            }
    return count;
}

} // namespace

class KeyTableTest : public QObject
{
    Q_OBJECT

    tastavia::testing::ClipDirectory clips;
    std::unique_ptr<TKeyboard> keyboard;

    ImageControl *key(const QString &name) const { return keyboard->control(name); }
    QString hitAt(QPoint p) const
    {
        QWidget *hit = keyboard->controlAt(p);
        return hit ? hit->objectName() : QString();
    }

private slots:
    void initTestCase()
    {
        tastavia::fake::fakeDevice().reset();
        clips.enter();
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        QCOMPARE(tastavia::fake::fakeDevice().count("ConnectDevice"), 1);
    }

    void everyKeyHasItsNoteAndColour_data()
    {
        QTest::addColumn<int>("note");
        for (int note = 36; note <= 96; ++note)
            QTest::newRow(qPrintable(nameOfNote(note))) << note;
    }
    void everyKeyHasItsNoteAndColour()
    {
        QFETCH(int, note);
        ImageControl *k = key(nameOfNote(note));
        QVERIFY(k);
        QCOMPARE(int(keyboard->GetNote(k)), note);
        QCOMPARE(keyboard->keyOfNote(note), k);
        const int semitone = note % 12;
        const bool black = semitone == 1 || semitone == 3 || semitone == 6 || semitone == 8 || semitone == 10;
        QCOMPARE(keyboard->IsBlackKey(k), black);
        QCOMPARE(k->height(), black ? 47 : 83);
        QCOMPARE(k->width(), 18);
        QCOMPARE(k->y(), 95);
        QCOMPARE(k->pointerShape(), Qt::PointingHandCursor);
    }

    void widgetsThatAreNoKeysGiveNoNote()
    {
        for (const QWidget *w : {static_cast<const QWidget *>(nullptr), static_cast<const QWidget *>(keyboard->background()),
                                 static_cast<const QWidget *>(key(QStringLiteral("ImgPatch1"))),
                                 static_cast<const QWidget *>(keyboard->ShowPatch())}) {
            QCOMPARE(int(keyboard->GetNote(w)), 0);
            QVERIFY(!keyboard->IsBlackKey(w));
        }
        QVERIFY(!keyboard->HeldKey());
        // Only the 61 keys' own slots hold a key.
        const auto &table = keyboard->keyImages();
        for (int note = 1; note < 128; ++note)
            QCOMPARE(table[static_cast<std::size_t>(note)] != nullptr, note >= 36 && note <= 96);
    }

    void keyboardSpansTheDesignedColumns()
    {
        QCOMPARE(key(QStringLiteral("ImgKey1C"))->x(), 19);
        QCOMPARE(key(QStringLiteral("ImgKey6C"))->geometry().right(), 664);
        // The two 17-pixel steps make neighbouring white keys share a column.
        QCOMPARE(key(QStringLiteral("ImgKey1D"))->geometry().right(), key(QStringLiteral("ImgKey1E"))->x());
        QCOMPARE(key(QStringLiteral("ImgKey4F"))->geometry().right(), key(QStringLiteral("ImgKey4G"))->x());
    }

    void sharedColumnsGoToTheHigherWhiteKeyBelowTheBlacks_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QString>("expected");
        QTest::newRow("x54 top") << QPoint(54, 95) << "ImgKey1DS";
        QTest::newRow("x54 last black row") << QPoint(54, 141) << "ImgKey1DS";
        QTest::newRow("x54 first white row") << QPoint(54, 142) << "ImgKey1E";
        QTest::newRow("x54 bottom") << QPoint(54, 177) << "ImgKey1E";
        QTest::newRow("x467 top") << QPoint(467, 95) << "ImgKey4FS";
        QTest::newRow("x467 last black row") << QPoint(467, 141) << "ImgKey4FS";
        QTest::newRow("x467 first white row") << QPoint(467, 142) << "ImgKey4G";
        QTest::newRow("x467 bottom") << QPoint(467, 177) << "ImgKey4G";
        QTest::newRow("below the keys") << QPoint(54, 178) << "";
        QTest::newRow("above the keys") << QPoint(54, 94) << "";
    }
    void sharedColumnsGoToTheHigherWhiteKeyBelowTheBlacks()
    {
        QFETCH(QPoint, point);
        QFETCH(QString, expected);
        QCOMPARE(hitAt(point), expected);
    }

    void everyPixelOfABlackKeyHitsTheBlackKey()
    {
        for (int note = 36; note <= 96; ++note) {
            ImageControl *k = keyboard->keyOfNote(note);
            if (!keyboard->IsBlackKey(k))
                continue;
            const QRect r = k->geometry();
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    QVERIFY2(hitAt({x, y}) == k->objectName(), qPrintable(QStringLiteral("%1 at %2,%3 hits %4")
                                                                              .arg(k->objectName()).arg(x).arg(y)
                                                                              .arg(hitAt({x, y}))));
        }
    }

    void whiteKeysOwnTheirLowerPartExceptTheSharedColumns()
    {
        for (int note = 36; note <= 96; ++note) {
            ImageControl *k = keyboard->keyOfNote(note);
            if (keyboard->IsBlackKey(k))
                continue;
            const QRect r = k->geometry();
            for (int x = r.left(); x <= r.right(); ++x) {
                const QString hit = hitAt({x, 160});
                const bool sharedWithLower = (x == 54 && note == 38) || (x == 467 && note == 77);
                QCOMPARE(hit == k->objectName(), !sharedWithLower);
            }
        }
    }

    void showingAKeyDownAndUpSwapsItsPicture()
    {
        ImageControl *black = key(QStringLiteral("ImgKey2FS"));
        ImageControl *white = key(QStringLiteral("ImgKey3C"));
        keyboard->showKeyDown(black);
        QCOMPARE(black->pictureName(), QStringLiteral("BLACKKEY_DOWN"));
        QCOMPARE(black->size(), QSize(18, 47));
        keyboard->showKeyDown(white);
        QCOMPARE(white->pictureName(), QStringLiteral("WHITEKEY_DOWN"));
        keyboard->showKeyUp(white);
        QCOMPARE(white->pictureName(), QStringLiteral("WHITEKEY_UP"));
        keyboard->showKeyUp(black);
        QCOMPARE(black->pictureName(), QStringLiteral("BLACKKEY_UP"));
        QCOMPARE(black->picture(), tastavia::resources::namedBitmap(u"BLACKKEY_UP"));
    }

    void blackKeysStartWithTheirDesignedPicture()
    {
        ImageControl *black = key(QStringLiteral("ImgKey5AS"));
        QVERIFY(black->pictureName().isEmpty());
        int row = -1;
        QCOMPARE(differingPixels(black->picture(), tastavia::resources::namedBitmap(u"BLACKKEY_UP"), &row), 6);
        QCOMPARE(row, 1);
        QCOMPARE(key(QStringLiteral("ImgKey5A"))->pictureName(), QStringLiteral("WHITEKEY_UP"));
    }

    void pointerIsAHandOverKeysOnly()
    {
        auto moveTo = [&](QPoint p) {
            QMouseEvent move(QEvent::MouseMove, p, keyboard->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(keyboard.get(), &move);
        };
        moveTo({300, 120});
        QCOMPARE(keyboard->cursor().shape(), Qt::PointingHandCursor);
        moveTo({300, 185});
        QCOMPARE(keyboard->cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(KeyTableTest)
#include "tst_keytable.moc"
