// Checks the pictures and fonts built into the program as the windows will
// see them: through the resources library, from the committed files.

#include <resources/Resources.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQueue>
#include <QSet>
#include <QtTest>

#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>

using namespace tastavia::resources;

namespace {

struct Size {
    QByteArray name;
    int width;
    int height;
};

// The catalogue as the window layouts need it, written out independently
// of the library's own table.
QList<Size> expectedCatalogue()
{
    QList<Size> sizes = {
        {"BACKGROUND_NT", 714, 192},      {"BACKGROUND_WINDOWS", 714, 192}, {"PATCHBACKGROUND_NT", 310, 321},
        {"PATCHBACKGROUND_WINDOWS", 311, 324}, {"ADBACKGROUND", 400, 356}, {"WHITEKEY_UP", 18, 83},
        {"WHITEKEY_DOWN", 18, 83},        {"BLACKKEY_UP", 18, 47},          {"BLACKKEY_DOWN", 18, 47},
        {"SELECTPATCH_UP", 52, 52},       {"SELECTPATCH_DOWN", 52, 52},     {"Logo", 31, 37},
    };
    for (const char *base : {"CLOSE", "MINIMIZE", "HELP", "STAFF"})
        for (const char *state : {"_UP", "_DOWN"})
            sizes.append({QByteArray(base) + state, 18, 18});
    for (const char *base : {"PATCHOK", "PATCHCANCLE", "PATCHAPPLY"})
        for (const char *state : {"_UP", "_DOWN"})
            sizes.append({QByteArray(base) + state, 66, 25});
    for (const char *base : {"ADCLOSE", "NEXTPAGE", "UPPERPAGE"})
        for (const char *state : {"_UP", "_DOWN"})
            sizes.append({QByteArray(base) + state, 21, 21});
    for (int k = 1; k <= 16; ++k)
        for (const char *state : {"_UP", "_DOWN"})
            sizes.append({"PATCH" + QByteArray::number(k).rightJustified(2, '0') + state, 28, 28});
    return sizes;
}

QSize deviceSize(QSize logical, qreal ratio)
{
    return {qCeil(logical.width() * ratio), qCeil(logical.height() * ratio)};
}

// A drawing as committed, decoded straight from the embedded file, for
// the screens it is drawn for.
QImage storedDrawing(const QString &path, qreal ratio)
{
    const char *suffix = ratio == 2.0 ? "@2x" : ratio == 1.5 ? "@1.5x" : "";
    QImage drawing = QImage(QStringLiteral(":/tastavia/%1%2.png").arg(path, QLatin1String(suffix)))
                         .convertToFormat(QImage::Format_RGB888);
    drawing.setDevicePixelRatio(ratio);
    return drawing;
}

bool isKeyRed(const QImage &rgb888, int x, int y)
{
    const uchar *px = rgb888.constScanLine(y) + 3 * x;
    return px[0] == 255 && px[1] == 0 && px[2] == 0;
}

struct RedSummary {
    int count = 0;
    int firstColumn = -1;
    int unreachable = 0;  // red pixels not connected to the picture's edge
};

// Counts the colour-key pixels and checks, by flooding from the border,
// that every one of them belongs to the outside: a red pixel enclosed by
// the body would punch a hole through the window.
RedSummary summariseRed(const QImage &rgb888)
{
    RedSummary s;
    const int w = rgb888.width(), h = rgb888.height();
    QList<bool> seen(qsizetype(w) * h, false);
    QQueue<QPoint> queue;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!isKeyRed(rgb888, x, y))
                continue;
            ++s.count;
            if (s.firstColumn < 0 || x < s.firstColumn)
                s.firstColumn = x;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
                seen[qsizetype(y) * w + x] = true;
                queue.enqueue({x, y});
            }
        }
    int reached = 0;
    while (!queue.isEmpty()) {
        const QPoint p = queue.dequeue();
        ++reached;
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
            const QPoint n = p + d;
            if (n.x() < 0 || n.y() < 0 || n.x() >= w || n.y() >= h)
                continue;
            const qsizetype i = qsizetype(n.y()) * w + n.x();
            if (!seen[i] && isKeyRed(rgb888, n.x(), n.y())) {
                seen[i] = true;
                queue.enqueue(n);
            }
        }
    }
    s.unreachable = s.count - reached;
    return s;
}

// One character drawn alone, black on white, from exactly the font asked
// for: font merging is off, so a missing glyph cannot be borrowed from a
// fallback face and shows as the font's own missing-glyph shape.
QImage renderGlyph(const QFont &font, QChar c)
{
    QImage img(40, 40, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(img.rect(), Qt::AlignCenter, QString(c));
    return img;
}

int inkedPixels(const QImage &img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) < 128)
                ++n;
    return n;
}

struct JpegTrap {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegTrap *>(info->err)->jump, 1);
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutions(); }

    // Each picture is drawn for screens at 1×, 1.5× and 2×; at those ratios
    // the drawing itself is shown, never another one rescaled.
    void namedBitmap_loadsAtCatalogueSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<qreal>("ratio");
        for (const Size &s : expectedCatalogue())
            for (const qreal ratio : {1.0, 1.5, 2.0})
                QTest::addRow("%s at %g", s.name.constData(), ratio)
                    << QString::fromLatin1(s.name) << QSize(s.width, s.height) << ratio;
    }
    void namedBitmap_loadsAtCatalogueSize()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(qreal, ratio);
        const QImage img = namedBitmap(name, ratio);
        QVERIFY2(!img.isNull(), qPrintable(name));
        QCOMPARE(img.size(), deviceSize(size, ratio));
        QCOMPARE(img.devicePixelRatio(), ratio);
        QCOMPARE(img.format(), QImage::Format_RGB888);
        QCOMPARE(img.depth(), 24);
        QCOMPARE(img, storedDrawing(QStringLiteral("bitmaps/") + name, ratio));
        if (ratio == 1.0)
            QCOMPARE(namedBitmap(name), img);
    }

    // Between the drawn ratios the next larger drawing is scaled down, so
    // that no detail is invented; above 2× the largest is scaled up, and
    // below 1× the 1× picture is all there is.
    void namedBitmap_otherRatios_scaleTheNextLargerDrawing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<qreal>("drawnAt");
        QTest::newRow("1.25") << QStringLiteral("WHITEKEY_DOWN") << 1.25 << 1.5;
        QTest::newRow("1.75") << QStringLiteral("SELECTPATCH_UP") << 1.75 << 2.0;
        QTest::newRow("2.5") << QStringLiteral("Logo") << 2.5 << 2.0;
        QTest::newRow("0.75") << QStringLiteral("CLOSE_UP") << 0.75 << 1.0;
    }
    void namedBitmap_otherRatios_scaleTheNextLargerDrawing()
    {
        QFETCH(QString, name);
        QFETCH(qreal, ratio);
        QFETCH(qreal, drawnAt);
        const QImage one = namedBitmap(name);
        const QSize size = ratio < 1 ? one.size() : deviceSize(one.size(), ratio);
        const QImage img = namedBitmap(name, ratio);
        QCOMPARE(img.size(), size);
        QCOMPARE(img.devicePixelRatio(), qMax(ratio, 1.0));
        QCOMPARE(img.format(), QImage::Format_RGB888);
        QImage expected = storedDrawing(QStringLiteral("bitmaps/") + name, drawnAt)
                              .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        expected.setDevicePixelRatio(img.devicePixelRatio());
        QCOMPARE(img, expected);
    }

    void namedBitmapNames_areExactlyTheCatalogue()
    {
        QSet<QString> expected;
        for (const Size &s : expectedCatalogue())
            expected.insert(QString::fromLatin1(s.name));
        const QStringList names = namedBitmapNames();
        QCOMPARE(names.size(), expected.size());
        QCOMPARE(QSet<QString>(names.begin(), names.end()), expected);
    }

    void namedBitmap_unknownName_isNull_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << QString();
        QTest::newRow("lower-case logo") << QStringLiteral("logo");
        QTest::newRow("upper-case logo") << QStringLiteral("LOGO");
        QTest::newRow("lower-case key") << QStringLiteral("whitekey_up");
        QTest::newRow("patch 17") << QStringLiteral("PATCH17_UP");
        QTest::newRow("one-digit patch") << QStringLiteral("PATCH1_UP");
        QTest::newRow("form picture name") << QStringLiteral("blackkey_designed");
        QTest::newRow("trailing space") << QStringLiteral("CLOSE_UP ");
        QTest::newRow("path-like") << QStringLiteral("../bitmaps/CLOSE_UP");
    }
    void namedBitmap_unknownName_isNull()
    {
        QFETCH(QString, name);
        QVERIFY(namedBitmap(name).isNull());
    }

    // The finer drawings have their own outline, so their red pixels are
    // not counted; they must lie where the 1× outline has red all round, and
    // nowhere the 1× picture has body all round.
    void colourKey_onlyWhereTheOutlineIsShaped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("redPixels");
        QTest::addColumn<int>("firstColumnAtLeast");
        for (const QString &name : namedBitmapNames())
            for (const qreal ratio : {1.0, 1.5, 2.0}) {
                const QByteArray row = QStringLiteral("%1 at %2").arg(name).arg(ratio).toLatin1();
                if (name == u"BACKGROUND_NT")
                    QTest::newRow(row.constData()) << name << ratio << 3858 << 679;
                else if (name == u"PATCHBACKGROUND_NT")
                    QTest::newRow(row.constData()) << name << ratio << 2591 << 0;
                else
                    QTest::newRow(row.constData()) << name << ratio << 0 << 0;
            }
        // Scaled between the drawings, the key must stay pure red too.
        QTest::newRow("BACKGROUND_NT at 1.25") << QStringLiteral("BACKGROUND_NT") << 1.25 << 3858 << 679;
        QTest::newRow("PATCHBACKGROUND_NT at 1.75") << QStringLiteral("PATCHBACKGROUND_NT") << 1.75 << 2591 << 0;
    }
    void colourKey_onlyWhereTheOutlineIsShaped()
    {
        QFETCH(QString, name);
        QFETCH(qreal, ratio);
        QFETCH(int, redPixels);
        QFETCH(int, firstColumnAtLeast);
        const QImage picture = namedBitmap(name, ratio);
        const RedSummary red = summariseRed(picture);
        if (redPixels == 0 || ratio == 1.0)
            QCOMPARE(red.count, redPixels);
        if (redPixels == 0)
            return;
        QVERIFY2(red.firstColumn >= qFloor(firstColumnAtLeast * ratio), qPrintable(QString::number(red.firstColumn)));
        QCOMPARE(red.unreachable, 0);
        // A drawn set's key is cut from the outline itself, and the
        // generator checks it pixel for pixel; a scaled one must follow the
        // drawing it comes from.
        if (ratio == 1.0 || ratio == 1.5 || ratio == 2.0) {
            QVERIFY2(red.count > redPixels * ratio * ratio * 0.9, qPrintable(QString::number(red.count)));
            return;
        }
        // How much redder than green and blue a pixel is. Scaled between the
        // drawings, a body pixel blended with the key outside would show as
        // a pink fringe: none may be redder than the body of the drawing it
        // comes from round its place.
        const auto redness = [](QRgb c) { return qRed(c) - qMax(qGreen(c), qBlue(c)); };
        const qreal drawnAt = ratio < 1.5 ? 1.5 : 2.0;
        const QImage drawing = namedBitmap(name, drawnAt);
        const auto allRound = [&drawing](QPoint p, bool wantRed) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = qBound(0, p.x() + dx, drawing.width() - 1);
                    const int y = qBound(0, p.y() + dy, drawing.height() - 1);
                    if (isKeyRed(drawing, x, y) != wantRed)
                        return false;
                }
            return true;
        };
        const auto rednessAround = [&](int x, int y) {
            const QPoint p(int((x + 0.5) * drawnAt / ratio), int((y + 0.5) * drawnAt / ratio));
            int most = -255;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int sx = qBound(0, p.x() + dx, drawing.width() - 1), sy = qBound(0, p.y() + dy, drawing.height() - 1);
                    if (!isKeyRed(drawing, sx, sy))
                        most = qMax(most, redness(drawing.pixel(sx, sy)));
                }
            return most;
        };
        int misplaced = 0, fringe = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QPoint under(qMin(int((x + 0.5) * drawnAt / ratio), drawing.width() - 1),
                                   qMin(int((y + 0.5) * drawnAt / ratio), drawing.height() - 1));
                const bool keyed = isKeyRed(picture, x, y);
                misplaced += (keyed && allRound(under, false)) || (!keyed && allRound(under, true));
                fringe += !keyed && redness(picture.pixel(x, y)) > rednessAround(x, y) + 32;
            }
        QCOMPARE(misplaced, 0);
        QCOMPARE(fringe, 0);
        QVERIFY2(red.count > redPixels * ratio * ratio * 0.9, qPrintable(QString::number(red.count)));
    }

    void formPicture_isTheDesignedPicture_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("bitmap");
        QTest::newRow("keyboard background") << QStringLiteral("TKeyboard.ImgBkg") << QStringLiteral("BACKGROUND_NT");
        QTest::newRow("logo") << QStringLiteral("TKeyboard.ImgLogo") << QStringLiteral("Logo");
        QTest::newRow("patch background") << QStringLiteral("TPatchSelect.PatchBackground")
                                          << QStringLiteral("PATCHBACKGROUND_NT");
        QTest::newRow("advert background") << QStringLiteral("TADPlayer.ImgBkg") << QStringLiteral("ADBACKGROUND");
    }
    void formPicture_isTheDesignedPicture()
    {
        QFETCH(QString, form);
        QFETCH(QString, bitmap);
        const QImage picture = formPicture(form);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.format(), QImage::Format_RGB888);
        QCOMPARE(picture, namedBitmap(bitmap));
        for (const qreal ratio : {1.5, 2.0}) {
            const QImage scaled = formPicture(form, ratio);
            QCOMPARE(scaled, namedBitmap(bitmap, ratio));
            QCOMPARE(scaled.devicePixelRatio(), ratio);
        }
    }

    void formPicture_unknownName_isNull()
    {
        QVERIFY(formPicture(u"TKeyboard.ImgKey1C").isNull());
        QVERIFY(formPicture(u"tkeyboard.imgbkg").isNull());
        QVERIFY(formPicture(u"BACKGROUND_NT").isNull());
        QVERIFY(formPicture(u"").isNull());
    }

    void designedBlackKey_differsFromUpPictureInSixPixelsOfRowOne()
    {
        const QImage designed = formPicture(u"TKeyboard.BlackKey");
        const QImage up = namedBitmap(u"BLACKKEY_UP");
        QCOMPARE(designed.size(), QSize(18, 47));
        QCOMPARE(designed.format(), QImage::Format_RGB888);
        int differing = 0;
        for (int y = 0; y < up.height(); ++y)
            for (int x = 0; x < up.width(); ++x)
                if (designed.pixel(x, y) != up.pixel(x, y)) {
                    ++differing;
                    QCOMPARE(y, 1);
                }
        QCOMPARE(differing, 6);
        QCOMPARE(summariseRed(designed).count, 0);

        for (const qreal ratio : {1.5, 2.0}) {
            const QImage drawn = formPicture(u"TKeyboard.BlackKey", ratio);
            QCOMPARE(drawn.size(), deviceSize(QSize(18, 47), ratio));
            QCOMPARE(drawn.devicePixelRatio(), ratio);
            QCOMPARE(drawn, storedDrawing(QStringLiteral("forms/blackkey_designed"), ratio));
        }
    }

    // A pressed or lit picture that hardly differs from the one at rest
    // gives the player no feedback.
    void pressedPicture_differsVisiblyFromRest_data()
    {
        QTest::addColumn<QString>("base");
        for (const QString &name : namedBitmapNames())
            if (name.endsWith(u"_UP"))
                QTest::newRow(qPrintable(name.chopped(3))) << name.chopped(3);
    }
    void pressedPicture_differsVisiblyFromRest()
    {
        QFETCH(QString, base);
        const QImage up = namedBitmap(base + QStringLiteral("_UP"));
        const QImage down = namedBitmap(base + QStringLiteral("_DOWN"));
        QCOMPARE(down.size(), up.size());
        int changed = 0;
        for (int y = 0; y < up.height(); ++y)
            for (int x = 0; x < up.width(); ++x) {
                const QRgb a = up.pixel(x, y), b = down.pixel(x, y);
                const int delta = qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
                changed += delta > 48;
            }
        const int area = up.width() * up.height();
        QVERIFY2(changed * 10 > area, qPrintable(QStringLiteral("%1 of %2 pixels").arg(changed).arg(area)));
    }

    // Controls are opaque rectangles laid over the background; their
    // corners must continue the background exactly where the window puts
    // them, on both skins, or they look pasted on.
    void controlPicture_continuesBackgroundAtItsPlace_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QStringList>("backgrounds");
        QTest::addColumn<QPoint>("place");
        const QStringList keyboard{QStringLiteral("BACKGROUND_NT"), QStringLiteral("BACKGROUND_WINDOWS")};
        const QStringList patch{QStringLiteral("PATCHBACKGROUND_NT"), QStringLiteral("PATCHBACKGROUND_WINDOWS")};
        const QStringList advert{QStringLiteral("ADBACKGROUND")};
        const struct {
            const char *base;
            QStringList backgrounds;
            QPoint place;
        } controls[] = {
            {"CLOSE", keyboard, {23, 12}},       {"MINIMIZE", keyboard, {42, 12}},
            {"HELP", keyboard, {61, 11}},        {"STAFF", keyboard, {84, 11}},
            {"SELECTPATCH", keyboard, {645, 37}}, {"PATCHOK", patch, {219, 188}},
            {"PATCHCANCLE", patch, {219, 218}},  {"PATCHAPPLY", patch, {219, 249}},
            {"UPPERPAGE", advert, {211, 231}},   {"NEXTPAGE", advert, {211, 256}},
            {"ADCLOSE", advert, {211, 327}},
        };
        for (const auto &c : controls)
            for (const char *state : {"_UP", "_DOWN"}) {
                const QString name = QString::fromLatin1(c.base) + QLatin1String(state);
                QTest::newRow(qPrintable(name)) << name << c.backgrounds << c.place;
            }
        for (int k = 1; k <= 16; ++k)
            for (const char *state : {"_UP", "_DOWN"}) {
                const QString name = QStringLiteral("PATCH%1%2").arg(k, 2, 10, QLatin1Char('0')).arg(QLatin1String(state));
                QTest::newRow(qPrintable(name)) << name << keyboard << QPoint(179 + 28 * (k - 1), 49);
            }
        QTest::newRow("Logo") << QStringLiteral("Logo") << keyboard << QPoint(29, 43);
    }
    void controlPicture_continuesBackgroundAtItsPlace()
    {
        QFETCH(QString, picture);
        QFETCH(QStringList, backgrounds);
        QFETCH(QPoint, place);
        const QImage control = namedBitmap(picture);
        const int right = control.width() - 1, bottom = control.height() - 1;
        for (const QString &backgroundName : backgrounds) {
            const QImage background = namedBitmap(backgroundName);
            for (const QPoint corner : {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
                QVERIFY2(control.pixel(corner) == background.pixel(place + corner),
                         qPrintable(QStringLiteral("%1 corner (%2,%3)").arg(backgroundName).arg(corner.x()).arg(corner.y())));
        }
    }

    void splash_isABaselineJpegThatLibjpegDecodes_data()
    {
        QTest::addColumn<QByteArray>("jpeg");
        QTest::addColumn<QSize>("size");
        QTest::newRow("1x") << splashJpeg() << QSize(620, 277);
        QTest::newRow("2x") << splashJpegAt2x() << QSize(1240, 554);
    }
    void splash_isABaselineJpegThatLibjpegDecodes()
    {
        QFETCH(QByteArray, jpeg);
        QFETCH(QSize, size);
        QVERIFY(jpeg.size() > 2);
        QCOMPARE(uchar(jpeg[0]), uchar(0xFF));
        QCOMPARE(uchar(jpeg[1]), uchar(0xD8));

        // Decode it the way the splash window does: libjpeg directly.
        jpeg_decompress_struct info{};
        JpegTrap trap{};
        info.err = jpeg_std_error(&trap.base);
        trap.base.error_exit = jpegFail;
        if (setjmp(trap.jump)) {
            jpeg_destroy_decompress(&info);
            QFAIL("libjpeg rejected the splash stream");
        }
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(jpeg.constData()), static_cast<unsigned long>(jpeg.size()));
        QCOMPARE(jpeg_read_header(&info, TRUE), JPEG_HEADER_OK);
        const bool progressive = info.progressive_mode;
        jpeg_start_decompress(&info);
        const int width = int(info.output_width), height = int(info.output_height), components = info.output_components;
        QList<JSAMPLE> row(qsizetype(width) * components);
        int rows = 0;
        while (info.output_scanline < info.output_height) {
            JSAMPROW rowPointer = row.data();
            rows += int(jpeg_read_scanlines(&info, &rowPointer, 1));
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        QVERIFY(!progressive);
        QCOMPARE(width, size.width());
        QCOMPARE(height, size.height());
        QCOMPARE(components, 3);
        QCOMPARE(rows, size.height());
    }

    void applicationIcon_hasEachSizeDrawnForIt()
    {
        const QIcon icon = applicationIcon();
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        for (int n : {16, 32, 48, 64}) {
            QVERIFY2(sizes.contains(QSize(n, n)), qPrintable(QString::number(n)));
            const QImage img = icon.pixmap(QSize(n, n), 1.0).toImage();
            QCOMPARE(img.size(), QSize(n, n));
            // Not empty: most of the square is covered by the mark.
            int opaque = 0;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    opaque += qAlpha(img.pixel(x, y)) > 200;
            QVERIFY2(opaque > n * n / 2, qPrintable(QString::number(opaque)));
        }
    }

    void fontSubstitution_drawsChineseWithInstalledFonts_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("expectedFace");
        const QString hei = QStringLiteral("WenQuanYi Micro Hei");
        QTest::newRow("华文中宋") << QStringLiteral("华文中宋") << QStringLiteral("AR PL UMing CN");
        QTest::newRow("华文细黑") << QStringLiteral("华文细黑") << hei;
        QTest::newRow("隶书") << QStringLiteral("隶书") << hei;
        QTest::newRow("MS Sans Serif") << QStringLiteral("MS Sans Serif") << hei;
        QTest::newRow("宋体") << QStringLiteral("宋体") << hei;
        QTest::newRow("SimSun") << QStringLiteral("SimSun") << hei;
    }
    void fontSubstitution_drawsChineseWithInstalledFonts()
    {
        QFETCH(QString, family);
        QFETCH(QString, expectedFace);
        QFont font(family);
        font.setPixelSize(24);
        font.setStyleStrategy(QFont::NoFontMerging);
        QCOMPARE(QFontInfo(font).family(), expectedFace);

        // An unassigned code point shows what a missing glyph looks like
        // in this face; none of the real characters may look like it.
        const QImage missing = renderGlyph(font, QChar(0x0378));
        const QString text = QStringLiteral("三角钢琴音色");
        QList<QImage> glyphs;
        for (const QChar c : text) {
            const QImage glyph = renderGlyph(font, c);
            QVERIFY2(inkedPixels(glyph) > 20, qPrintable(QString(c)));
            QVERIFY2(glyph != missing, qPrintable(QString(c)));
            for (const QImage &earlier : glyphs)
                QVERIFY2(glyph != earlier, qPrintable(QString(c)));
            glyphs.append(glyph);
        }
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
