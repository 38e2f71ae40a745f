// Draws every picture of Tastavia and writes them into resources/.
//
//   tastavia-artgen <repository root>          write the pictures
//   tastavia-artgen --check <repository root>  compare with what is committed
//
// The pictures are checked against the catalogue (names, sizes, colour-key
// pixel counts) before anything is written, so a broken drawing never
// reaches the tree.

#include "ArtKit.h"
#include "Artwork.h"
#include "Outline.h"

#include <resources/BitmapCatalogue.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <set>

using namespace tastavia::resources;

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int countRed(const QImage &rgb, int *minColumn)
{
    int count = 0;
    int minX = rgb.width();
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            if (line[3 * x] == 255 && line[3 * x + 1] == 0 && line[3 * x + 2] == 0) {
                ++count;
                minX = std::min(minX, x);
            }
    }
    if (minColumn)
        *minColumn = minX;
    return count;
}

// The file name suffix of a set: none at 1x, "@1.5x" and "@2x" otherwise.
QString setSuffix(double scale)
{
    return scale == 1.0 ? QString() : QStringLiteral("@%1x").arg(scale);
}

bool verify(const artgen::PictureSet &pictures, double scale)
{
    bool ok = true;
    auto fail = [&](const QString &message) {
        err() << "artgen: " << message << " (" << scale << "x)" << Qt::endl;
        ok = false;
    };

    std::set<QString> expected;
    for (const auto &entry : catalogue::entries) {
        const QString name = QString::fromUtf16(entry.name.data(), qsizetype(entry.name.size()));
        expected.insert(name);
        const auto it = pictures.find(name);
        if (it == pictures.end()) {
            fail(name + QStringLiteral(" was not drawn"));
            continue;
        }
        const QImage &img = it->second;
        const int width = artgen::deviceLength(entry.width, scale);
        const int height = artgen::deviceLength(entry.height, scale);
        if (img.width() != width || img.height() != height)
            fail(QStringLiteral("%1 is %2x%3, expected %4x%5")
                     .arg(name).arg(img.width()).arg(img.height()).arg(width).arg(height));
        if (img.format() != QImage::Format_RGB888)
            fail(name + QStringLiteral(" is not 24-bit RGB"));

        int minColumn = 0;
        const int red = countRed(img, &minColumn);
        // At 1x the counts are the ones the windows were designed with; at
        // other scales every pixel outside the outline, and no other, is red.
        using namespace artgen::outline;
        if (name == QStringLiteral("BACKGROUND_NT")) {
            const int expectedRed = scale == 1.0 ? keyboardRedPixels : keyboardOutsidePixels(scale);
            if (red != expectedRed || minColumn < artgen::deviceLength(keyboardLowerRight, scale) - 1)
                fail(QStringLiteral("BACKGROUND_NT has %1 colour-key pixels from column %2").arg(red).arg(minColumn));
        } else if (name == QStringLiteral("PATCHBACKGROUND_NT")) {
            if (red != (scale == 1.0 ? patchRedPixels : patchOutsidePixels(scale)))
                fail(QStringLiteral("PATCHBACKGROUND_NT has %1 colour-key pixels").arg(red));
        } else if (red != 0) {
            fail(QStringLiteral("%1 has %2 stray colour-key pixels").arg(name).arg(red));
        }
    }
    for (const auto &[name, img] : pictures)
        if (!expected.count(name) && name != QStringLiteral("blackkey_designed"))
            fail(name + QStringLiteral(" is not in the catalogue"));

    const auto designed = pictures.find(QStringLiteral("blackkey_designed"));
    const auto up = pictures.find(QStringLiteral("BLACKKEY_UP"));
    if (designed == pictures.end() || up == pictures.end()) {
        fail(QStringLiteral("designed black key missing"));
    } else if (designed->second.size() != up->second.size()) {
        fail(QStringLiteral("designed black key has the wrong size"));
    } else {
        const QRect glint = artgen::designedGlint(scale);
        int differing = 0;
        bool onlyTheGlint = true;
        for (int y = 0; y < up->second.height(); ++y)
            for (int x = 0; x < up->second.width(); ++x)
                if (designed->second.pixel(x, y) != up->second.pixel(x, y)) {
                    ++differing;
                    onlyTheGlint = onlyTheGlint && glint.contains(x, y);
                }
        const int expected = scale == 1.0 ? 6 : glint.width() * glint.height();
        if (differing != expected || !onlyTheGlint || countRed(designed->second, nullptr) != 0)
            fail(QStringLiteral("designed black key differs in %1 pixels").arg(differing));
    }
    return ok;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Qt 6 takes 0..100 here, not zlib's 0..9; anything small stores raw.
    writer.setCompression(100);
    if (!writer.write(image))
        return {};
    return bytes;
}

struct Output {
    QString relativePath;
    QByteArray bytes;
};

} // namespace

int main(int argc, char **argv)
{
    // Drawing needs fonts but never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QStringList args = app.arguments().mid(1);
    const bool checkOnly = args.removeAll(QStringLiteral("--check")) > 0;
    if (args.size() != 1) {
        err() << "usage: tastavia-artgen [--check] <repository root>" << Qt::endl;
        return 2;
    }
    const QDir root(args.front());
    if (!QFile::exists(root.filePath(QStringLiteral("resources/CMakeLists.txt")))) {
        err() << "artgen: " << root.absolutePath() << " does not look like the repository root" << Qt::endl;
        return 2;
    }

    std::vector<Output> outputs;
    for (double scale : artgen::pictureScales) {
        artgen::PictureSet pictures = artgen::drawKeyboardWindow(scale);
        pictures.merge(artgen::drawPatchWindow(scale));
        pictures.merge(artgen::drawAdvertWindow(scale));
        if (!verify(pictures, scale))
            return 1;
        for (const auto &[name, img] : pictures) {
            const QString dir = name == QStringLiteral("blackkey_designed") ? QStringLiteral("forms")
                                                                            : QStringLiteral("bitmaps");
            outputs.push_back(
                {QStringLiteral("resources/%1/%2%3.png").arg(dir, name, setSuffix(scale)), pngBytes(img)});
        }
    }
    for (double scale : artgen::splashScales)
        outputs.push_back({QStringLiteral("resources/splash%1.jpg").arg(setSuffix(scale)),
                           artgen::encodeBaselineJpeg(artgen::drawSplash(scale), 90)});
    auto addIcon = [&outputs](int size) {
        outputs.push_back({QStringLiteral("resources/icons/tastavia-%1.png").arg(size),
                           pngBytes(artgen::drawIcon(size))});
    };
    for (int size : catalogue::iconSizes)
        addIcon(size);
    for (int size : catalogue::themeOnlyIconSizes)
        addIcon(size);

    int problems = 0;
    for (const Output &out : outputs) {
        if (out.bytes.isEmpty()) {
            err() << "artgen: could not encode " << out.relativePath << Qt::endl;
            ++problems;
            continue;
        }
        const QString path = root.filePath(out.relativePath);
        if (checkOnly) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly) || file.readAll() != out.bytes) {
                err() << "artgen: " << out.relativePath << " differs from the drawing" << Qt::endl;
                ++problems;
            }
            continue;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(out.bytes) != out.bytes.size()) {
            err() << "artgen: cannot write " << path << ": " << file.errorString() << Qt::endl;
            ++problems;
        }
    }
    if (problems)
        return 1;
    QTextStream(stdout) << (checkOnly ? "checked " : "wrote ") << outputs.size() << " files under "
                        << root.filePath(QStringLiteral("resources")) << Qt::endl;
    return 0;
}
