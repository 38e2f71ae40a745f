#include "Resources.h"

#include "BitmapCatalogue.h"

#include <QFile>
#include <QFont>
#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

Q_LOGGING_CATEGORY(lcResources, "tastavia.resources", QtWarningMsg)

namespace tastavia::resources {

namespace {

QString toQString(std::u16string_view name)
{
    return QString::fromUtf16(name.data(), qsizetype(name.size()));
}

std::optional<catalogue::Entry> findEntry(QStringView name)
{
    for (const catalogue::Entry &entry : catalogue::entries)
        if (name == QStringView(entry.name.data(), qsizetype(entry.name.size())))
            return entry;
    return std::nullopt;
}

// Decoded pictures are kept: keys and switches swap pictures on every
// press, and a QImage copy is only a reference. A picture refused once is
// remembered too, so that it warns once rather than on every press.
struct Cache {
    QMutex mutex;
    QHash<QString, QImage> pictures;
};

Cache &cache()
{
    static Cache kept;
    return kept;
}

std::optional<QImage> findCached(const QString &key)
{
    QMutexLocker lock(&cache().mutex);
    if (const auto it = cache().pictures.constFind(key); it != cache().pictures.constEnd())
        return *it;
    return std::nullopt;
}

QImage keep(const QString &key, const QImage &image)
{
    QMutexLocker lock(&cache().mutex);
    cache().pictures.insert(key, image);
    return image;
}

QImage loadCached(const QString &path, QSize expected)
{
    if (auto found = findCached(path))
        return *found;

    QImage image(path);
    if (image.isNull()) {
        qCWarning(lcResources) << "cannot decode" << path;
        return keep(path, {});
    }
    image = image.convertToFormat(QImage::Format_RGB888);
    if (image.size() != expected) {
        qCWarning(lcResources) << path << "is" << image.size() << "but the catalogue says" << expected;
        return keep(path, {});
    }
    return keep(path, image);
}

// The ratios the artwork is drawn at, and how each drawing's file is named
// beside the 1× one.
struct DrawnSet {
    qreal ratio;
    const char *suffix;
};
constexpr DrawnSet DrawnSets[] = {{1.0, ""}, {1.5, "@1.5x"}, {2.0, "@2x"}};

QSize deviceSize(QSize logical, qreal ratio)
{
    // Less a hair, so that a product such as 10 × 1.1 that floating point
    // makes a little over 11 does not gain a whole pixel.
    const auto scaled = [ratio](int length) { return int(std::ceil(length * ratio - 1e-9)); };
    return {scaled(logical.width()), scaled(logical.height())};
}

bool isKeyRed(QRgb pixel)
{
    return (pixel & 0xFFFFFF) == 0xFF0000;
}

bool holdsKeyRed(const QImage &rgb888)
{
    for (int y = 0; y < rgb888.height(); ++y) {
        const uchar *px = rgb888.constScanLine(y);
        for (int x = 0; x < rgb888.width(); ++x, px += 3)
            if (px[0] == 255 && px[1] == 0 && px[2] == 0)
                return true;
    }
    return false;
}

// Smooth scaling would blend the key red into the outline's edge pixels,
// and the mask keeps those: a pink fringe round the window. So the key
// pixels are weighed out as transparent while scaling, and the key comes
// back pure wherever the nearest source pixel was key.
QImage scaledKeepingKey(const QImage &source, QSize size)
{
    QImage weighed = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < weighed.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(weighed.scanLine(y));
        for (int x = 0; x < weighed.width(); ++x)
            if (isKeyRed(line[x]))
                line[x] = 0;
    }
    const QImage scaled = weighed.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage result(size, QImage::Format_RGB888);
    for (int y = 0; y < size.height(); ++y) {
        const int sy = std::min(source.height() - 1, int((y + 0.5) * source.height() / size.height()));
        for (int x = 0; x < size.width(); ++x) {
            const int sx = std::min(source.width() - 1, int((x + 0.5) * source.width() / size.width()));
            const QRgb nearest = source.pixel(sx, sy);
            QRgb colour = nearest;
            if (!isKeyRed(nearest)) {
                const QRgb blended = scaled.pixel(x, y);
                if (qAlpha(blended) != 0)
                    colour = qUnpremultiply(blended);
                // A body pixel must never turn into a hole.
                if (isKeyRed(colour))
                    colour = qRgb(254, 0, 0);
            }
            result.setPixel(x, y, colour);
        }
    }
    return result;
}

// The picture stored as `<base>.png` and its drawings beside it, for a
// screen of the given ratio.
QImage pictureForRatio(const QString &base, QSize logical, qreal ratio)
{
    const auto setPath = [&base](const DrawnSet &set) {
        return base + QLatin1String(set.suffix) + QStringLiteral(".png");
    };
    // Below 1× nothing finer helps, and NaN lands here too.
    if (!(ratio > 1.0))
        return loadCached(setPath(DrawnSets[0]), logical);

    const QString key = base + QStringLiteral("|%1").arg(ratio, 0, 'g', 17);
    if (auto found = findCached(key))
        return *found;

    // The drawing for this ratio or the next larger one, so that it is only
    // ever scaled down; one that is missing or refused gives way to a larger
    // one first, then to the smaller ones.
    QList<const DrawnSet *> order;
    for (const DrawnSet &set : DrawnSets)
        if (set.ratio >= ratio)
            order.append(&set);
    for (auto it = std::crbegin(DrawnSets); it != std::crend(DrawnSets); ++it)
        if (it->ratio < ratio)
            order.append(&*it);
    QImage source;
    for (const DrawnSet *set : order) {
        source = loadCached(setPath(*set), deviceSize(logical, set->ratio));
        if (!source.isNull())
            break;
    }
    if (source.isNull())
        return keep(key, {});

    const QSize size = deviceSize(logical, ratio);
    QImage picture = source;
    if (source.size() != size)
        picture = holdsKeyRed(source)
                      ? scaledKeepingKey(source, size)
                      : source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_RGB888);
    picture.setDevicePixelRatio(ratio);
    return keep(key, picture);
}

QString bitmapBase(QStringView name)
{
    return QStringLiteral(":/tastavia/bitmaps/%1").arg(name);
}

const QString BlackKeyBase = QStringLiteral(":/tastavia/forms/blackkey_designed");
constexpr QSize BlackKeySize(catalogue::blackKeyDesignedWidth, catalogue::blackKeyDesignedHeight);

// Layout pictures that are named bitmaps under another name.
struct FormAlias {
    QStringView form;
    QStringView bitmap;
};
constexpr FormAlias FormAliases[] = {
    {u"TKeyboard.ImgBkg", u"BACKGROUND_NT"},
    {u"TKeyboard.ImgLogo", u"Logo"},
    {u"TPatchSelect.PatchBackground", u"PATCHBACKGROUND_NT"},
    {u"TADPlayer.ImgBkg", u"ADBACKGROUND"},
};

std::optional<QStringView> aliasedBitmap(QStringView form)
{
    for (const FormAlias &alias : FormAliases)
        if (form == alias.form)
            return alias.bitmap;
    return std::nullopt;
}

QByteArray readResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcResources) << "missing" << path;
        return {};
    }
    return file.readAll();
}

} // namespace

QImage namedBitmap(QStringView name)
{
    return namedBitmap(name, 1.0);
}

QImage namedBitmap(QStringView name, qreal devicePixelRatio)
{
    const auto entry = findEntry(name);
    if (!entry)
        return {};
    return pictureForRatio(bitmapBase(name), QSize(entry->width, entry->height), devicePixelRatio);
}

QImage formPicture(QStringView name)
{
    return formPicture(name, 1.0);
}

QImage formPicture(QStringView name, qreal devicePixelRatio)
{
    if (name == u"TKeyboard.BlackKey")
        return pictureForRatio(BlackKeyBase, BlackKeySize, devicePixelRatio);
    if (const auto bitmap = aliasedBitmap(name))
        return namedBitmap(*bitmap, devicePixelRatio);
    return {};
}

QByteArray splashJpeg()
{
    return readResource(QStringLiteral(":/tastavia/splash.jpg"));
}

QByteArray splashJpegAt2x()
{
    return readResource(QStringLiteral(":/tastavia/splash@2x.jpg"));
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : catalogue::iconSizes)
        icon.addFile(QStringLiteral(":/tastavia/icons/tastavia-%1.png").arg(size), QSize(size, size));
    return icon;
}

QStringList namedBitmapNames()
{
    QStringList names;
    names.reserve(qsizetype(catalogue::entries.size()));
    for (const catalogue::Entry &entry : catalogue::entries)
        names << toQString(entry.name);
    return names;
}

void installFontSubstitutions()
{
    const QString hei = QStringLiteral("WenQuanYi Micro Hei");
    const QString ming = QStringLiteral("AR PL UMing CN");
    // The serif heading face maps to a Ming (serif) face first; everything
    // else the program names is a sans or plain UI face.
    QFont::insertSubstitutions(QStringLiteral("华文中宋"), {ming, hei});
    for (const char16_t *family : {u"华文细黑", u"隶书", u"MS Sans Serif", u"宋体", u"SimSun"})
        QFont::insertSubstitutions(QString::fromUtf16(family), {hei, ming});
}

} // namespace tastavia::resources
