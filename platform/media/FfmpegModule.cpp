#include "FfmpegModule.h"

#include "ClipPlayer.h"
#include "MediaLog.h"

#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>

namespace tastavia::media {

namespace {

using OpenClip = decltype(&tastavia_ffmpeg_open_clip_v1);

const char ModuleName[] = "tastavia-ffmpeg-clips.so";

// Installed beside the program (<prefix>/lib/tastavia), else where this
// build tree put it.
QStringList moduleFolders()
{
    QStringList folders;
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!program.isEmpty())
        folders << QDir::cleanPath(QFileInfo(program).absolutePath() + QStringLiteral("/../lib/tastavia"));
    folders << QStringLiteral(TASTAVIA_MEDIA_MODULE_BUILD_DIR);
    return folders;
}

OpenClip loadModule()
{
    for (const QString &folder : moduleFolders()) {
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(ModuleName)));
        if (!QFileInfo::exists(QString::fromLocal8Bit(path)))
            continue;
        // Never unloaded: pictures and sources made by it may live until
        // the end.
        void *module = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            qCWarning(lcMedia) << "cannot load" << path << dlerror();
            continue;
        }
        if (auto entry = reinterpret_cast<OpenClip>(dlsym(module, "tastavia_ffmpeg_open_clip_v1")))
            return entry;
        qCWarning(lcMedia) << path << "is a module of another version";
        dlclose(module);
    }
    qCWarning(lcMedia) << "no" << ModuleName << "in" << moduleFolders();
    return nullptr;
}

} // namespace

ModuleOpened openThroughFfmpegModule(const QString &path)
{
    static const OpenClip open = loadModule();
    ModuleOpened result;
    if (!open) {
        result.error = ClipPlayer::NoDecoder;
        return result;
    }
    PictureSource *source = nullptr;
    result.error = open(QFile::encodeName(path).constData(), &source);
    if (result.error == ClipPlayer::NoError && !source)
        result.error = ClipPlayer::NoDecoder;
    result.source.reset(source);
    return result;
}

} // namespace tastavia::media
