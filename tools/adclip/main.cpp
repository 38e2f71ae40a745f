// tastavia-adclip: draws the advert and encodes it as the clip that the
// keyboard window's strip plays, normally Ad/ad01.avi.
//
//   tastavia-adclip [--frames DIR] OUTPUT.avi
//
// --frames also saves every picture as a PNG, to look at them one by one.
#include "AdvertFrames.h"
#include "ClipWriter.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Pictures only: no display is needed or wanted.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tastavia-adclip"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Makes the advert clip of the keyboard window."));
    parser.addHelpOption();
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Also save every picture as a PNG in <dir>."),
                                          QStringLiteral("dir"));
    parser.addOption(framesOption);
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The AVI file to write."));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: tastavia-adclip [--frames DIR] OUTPUT.avi\n");
        return 2;
    }

    const QStringList missing = adclip::missingFontSupport();
    if (!missing.isEmpty()) {
        for (const QString &line : missing)
            std::fprintf(stderr, "tastavia-adclip: %s\n", qPrintable(line));
        return 1;
    }

    const QString framesDir = parser.value(framesOption);
    if (!framesDir.isEmpty() && !QDir().mkpath(framesDir)) {
        std::fprintf(stderr, "tastavia-adclip: cannot make %s\n", qPrintable(framesDir));
        return 1;
    }

    const adclip::AdvertSpec spec;
    tastavia::clipwriter::ClipFormat format;
    format.size = spec.size;
    format.fps = spec.fps;
    format.quality = 3;
    tastavia::clipwriter::ClipWriter writer(args.first(), format);
    if (!writer.begin()) {
        std::fprintf(stderr, "tastavia-adclip: %s\n", qPrintable(writer.errorString()));
        return 1;
    }
    for (int i = 0; i < spec.frames; ++i) {
        const QImage frame = adclip::advertFrame(i, spec);
        if (!framesDir.isEmpty()) {
            const QString name = QDir(framesDir).filePath(QStringLiteral("frame-%1.png").arg(i, 3, 10, QLatin1Char('0')));
            if (!frame.save(name)) {
                std::fprintf(stderr, "tastavia-adclip: cannot save %s\n", qPrintable(name));
                return 1;
            }
        }
        if (!writer.addFrame(frame)) {
            std::fprintf(stderr, "tastavia-adclip: %s\n", qPrintable(writer.errorString()));
            return 1;
        }
    }
    if (!writer.finish()) {
        std::fprintf(stderr, "tastavia-adclip: %s\n", qPrintable(writer.errorString()));
        return 1;
    }
    std::printf("%s: %d pictures of %dx%d at %d fps, %lld bytes\n", qPrintable(args.first()),
                writer.framesWritten(), spec.size.width(), spec.size.height(), spec.fps,
                static_cast<long long>(QFileInfo(args.first()).size()));
    return 0;
}
