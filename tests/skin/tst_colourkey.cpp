// The colour key: pure red pixels of a skin are left out of the window's
// shape, everything else stays.
#include <skin/SkinWindow.h>

#include <QtTest>

class ColourKeyTest : public QObject
{
    Q_OBJECT
private slots:
    void onlyPureRedIsLeftOut()
    {
        QImage picture(8, 4, QImage::Format_RGB888);
        picture.fill(qRgb(20, 20, 30));
        picture.setPixel(6, 0, qRgb(255, 0, 0));
        picture.setPixel(7, 0, qRgb(255, 0, 0));
        picture.setPixel(7, 1, qRgb(255, 0, 0));
        picture.setPixel(5, 3, qRgb(254, 0, 0)); // near red is not the key
        const QRegion region = tastavia::skin::visibleRegion(picture);
        QVERIFY(!region.contains(QPoint(6, 0)));
        QVERIFY(!region.contains(QPoint(7, 0)));
        QVERIFY(!region.contains(QPoint(7, 1)));
        QVERIFY(region.contains(QPoint(0, 0)));
        QVERIFY(region.contains(QPoint(5, 3)));
        QVERIFY(region.contains(QPoint(7, 3)));
        int visible = 0;
        for (const QRect &r : region)
            visible += r.width() * r.height();
        QCOMPARE(visible, 8 * 4 - 3);
    }

    void windowWithoutRedKeepsItsWholeRectangle()
    {
        tastavia::skin::SkinWindow window(QStringLiteral("plain"), QSize(40, 30));
        QImage face(40, 30, QImage::Format_RGB888);
        face.fill(Qt::darkBlue);
        window.background()->setDesignedPicture(face);
        window.setColourKey(true);
        QCOMPARE(window.mask(), QRegion(0, 0, 40, 30));
        window.setColourKey(false);
        QVERIFY(window.mask().isEmpty());
    }
};

QTEST_MAIN(ColourKeyTest)
#include "tst_colourkey.moc"
