// The colour key: pure red pixels of a skin are left out of the window's
// shape, everything else stays.
#include <resources/Resources.h>
#include <skin/SkinWindow.h>

#include <QtTest>

class ColourKeyTest : public QObject
{
    Q_OBJECT
private slots:
    // A picture drawn for a scaled screen is cut out in its own (device)
    // pixels: one red pixel leaves one pixel out, not a block of them.
    void onlyPureRedIsLeftOut_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }
    void onlyPureRedIsLeftOut()
    {
        QFETCH(qreal, ratio);
        QImage picture(8, 4, QImage::Format_RGB888);
        picture.setDevicePixelRatio(ratio);
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
        QCOMPARE(region.boundingRect(), QRect(0, 0, 8, 4));
    }

    // Run again on screens scaled to 1.5× and 2× (see CMakeLists.txt): the
    // controls must show the pictures drawn for the screen, one picture
    // pixel on one screen pixel, and not the 1× ones magnified.
    void controlsShowThePictureDrawnForTheScreen()
    {
        tastavia::skin::SkinWindow window(QStringLiteral("keys"), QSize(60, 100));
        auto *white = new tastavia::skin::ImageControl(&window, QStringLiteral("white"), QRect(4, 4, 18, 83));
        white->loadBitmap(QStringLiteral("WHITEKEY_UP"));
        auto *black = new tastavia::skin::ImageControl(&window, QStringLiteral("black"), QRect(24, 4, 18, 47));
        black->setFormPicture(QStringLiteral("TKeyboard.BlackKey"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const qreal ratio = window.devicePixelRatioF();
        const QList<std::pair<tastavia::skin::ImageControl *, QImage>> shown = {
            {white, tastavia::resources::namedBitmap(u"WHITEKEY_UP", ratio)},
            {black, tastavia::resources::formPicture(u"TKeyboard.BlackKey", ratio)},
        };
        for (const auto &[control, drawn] : shown) {
            QCOMPARE(drawn.devicePixelRatio(), ratio);
            const QImage shot = control->grab().toImage().convertToFormat(QImage::Format_RGB888);
            QVERIFY(shot.width() >= drawn.width() - 1 && shot.height() >= drawn.height() - 1);
            int differing = 0;
            for (int y = 0; y < qMin(shot.height(), drawn.height()); ++y)
                for (int x = 0; x < qMin(shot.width(), drawn.width()); ++x)
                    differing += shot.pixel(x, y) != drawn.pixel(x, y);
            QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 at %2: %3 pixels differ")
                                                    .arg(control->objectName()).arg(ratio).arg(differing)));
        }
        // What the layout and the tests know as the picture stays the 1× one.
        QCOMPARE(white->picture(), tastavia::resources::namedBitmap(u"WHITEKEY_UP"));
        QCOMPARE(black->picture(), tastavia::resources::formPicture(u"TKeyboard.BlackKey"));
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
