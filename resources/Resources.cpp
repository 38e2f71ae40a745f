#include "Resources.h"

#include "BitmapCatalogue.h"

#include <QFile>
#include <QFont>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>

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
// press, and a QImage copy is only a reference.
QImage loadCached(const QString &path, QSize expected)
{
    static QMutex mutex;
    static QHash<QString, QImage> cache;
    QMutexLocker lock(&mutex);
    if (const auto it = cache.constFind(path); it != cache.constEnd())
        return *it;

    QImage image(path);
    if (image.isNull()) {
        qCWarning(lcResources) << "cannot decode" << path;
        return {};
    }
    image = image.convertToFormat(QImage::Format_RGB888);
    if (image.size() != expected) {
        qCWarning(lcResources) << path << "is" << image.size() << "but the catalogue says" << expected;
        return {};
    }
    cache.insert(path, image);
    return image;
}

QString bitmapPath(QStringView name)
{
    return QStringLiteral(":/tastavia/bitmaps/%1.png").arg(name);
}

} // namespace

QImage namedBitmap(QStringView name)
{
    const auto entry = findEntry(name);
    if (!entry)
        return {};
    return loadCached(bitmapPath(name), QSize(entry->width, entry->height));
}

QImage formPicture(QStringView name)
{
    if (name == u"TKeyboard.BlackKey")
        return loadCached(QStringLiteral(":/tastavia/forms/blackkey_designed.png"),
                          QSize(catalogue::blackKeyDesignedWidth, catalogue::blackKeyDesignedHeight));
    static const struct {
        QStringView form;
        QStringView bitmap;
    } aliases[] = {
        {u"TKeyboard.ImgBkg", u"BACKGROUND_NT"},
        {u"TKeyboard.ImgLogo", u"Logo"},
        {u"TPatchSelect.PatchBackground", u"PATCHBACKGROUND_NT"},
        {u"TADPlayer.ImgBkg", u"ADBACKGROUND"},
    };
    for (const auto &alias : aliases)
        if (name == alias.form)
            return namedBitmap(alias.bitmap);
    return {};
}

QByteArray splashJpeg()
{
    QFile file(QStringLiteral(":/tastavia/splash.jpg"));
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcResources) << "splash picture missing";
        return {};
    }
    return file.readAll();
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
