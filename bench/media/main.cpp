// Plays the advert clip into a 340 x 28 strip of a keyboard-sized window,
// looping as the keyboard window does, and reports the CPU time the whole
// process used as a share of one core, with the pictures shown and painted
// and how evenly they came.
//
//   bench_media [--no-display] [CLIP] [SECONDS]
//
// The defaults are the committed Ad/ad01.avi and 10 seconds.
#include "ClipPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using tastavia::media::ClipPlayer;
using tastavia::media::Notice;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    // Without the display only decoding and pacing are measured.
    const bool draw = !args.removeAll(QStringLiteral("--no-display"));
    const QString clip = !args.isEmpty() ? args.at(0) : QStringLiteral(TASTAVIA_SOURCE_DIR "/Ad/ad01.avi");
    const double seconds = args.size() > 1 ? args.at(1).toDouble() : 10.0;
    if (seconds <= 0 || args.size() > 2) {
        std::fprintf(stderr, "usage: bench_media [--no-display] [CLIP] [SECONDS]\n");
        return 2;
    }

    QWidget window;
    window.resize(714, 192);
    auto *strip = new QWidget(&window);
    strip->setGeometry(152, 2, 340, 28);
    window.show();

    ClipPlayer player;
    if (const int error = player.open(clip)) {
        std::fprintf(stderr, "bench_media: cannot open %s: %s\n", qPrintable(clip),
                     qPrintable(ClipPlayer::errorText(error)));
        return 1;
    }
    if (draw)
        player.setDisplay(strip);
    // Installed after the player's own filter, so it sees each paint first.
    PaintCounter counter;
    strip->installEventFilter(&counter);

    int loops = 0;
    int failures = 0;
    QElapsedTimer wall;
    // The first pass decodes; later ones replay what the player holds.
    double firstPassCpu = 0;
    double firstPassWall = 0;
    QObject::connect(&player, &ClipPlayer::completed, &player, [&](Notice notice) {
        if (notice != Notice::Successful) {
            ++failures;
            return;
        }
        if (++loops == 1) {
            firstPassCpu = cpuSeconds();
            firstPassWall = wall.nsecsElapsed() / 1e9;
        }
        player.seekToStart();
        player.play(true);
    });
    std::vector<qint64> shownAt;
    shownAt.reserve(size_t(seconds * 200));
    QObject::connect(&player, &ClipPlayer::frameShown, &player,
                     [&] { shownAt.push_back(wall.nsecsElapsed()); });

    // Local loops, because quitting the application would also close the
    // window. The first lets the window settle before measuring.
    const auto run = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    };
    run(300);
    counter.paints = 0;

    const double cpuBefore = cpuSeconds();
    wall.start();
    player.play(true);
    run(int(seconds * 1000));
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    const double cpuAfter = cpuSeconds();
    const double cpu = cpuAfter - cpuBefore;

    std::vector<double> gapsMs;
    for (size_t i = 1; i < shownAt.size(); ++i)
        gapsMs.push_back((shownAt[i] - shownAt[i - 1]) / 1e6);
    double meanMs = 0;
    for (double gap : gapsMs)
        meanMs += gap;
    meanMs = gapsMs.empty() ? 0 : meanMs / gapsMs.size();
    const auto [minGap, maxGap] = std::minmax_element(gapsMs.begin(), gapsMs.end());

    std::printf("clip            %s\n", qPrintable(clip));
    std::printf("wall time       %.2f s\n", wallSeconds);
    std::printf("cpu time        %.1f ms\n", cpu * 1000);
    std::printf("cpu load        %.3f %% of one core\n", 100.0 * cpu / wallSeconds);
    if (loops > 0) {
        std::printf("  first pass    %.3f %% over %.2f s\n",
                    100.0 * (firstPassCpu - cpuBefore) / firstPassWall, firstPassWall);
        std::printf("  later passes  %.3f %% over %.2f s\n",
                    100.0 * (cpuAfter - firstPassCpu) / (wallSeconds - firstPassWall),
                    wallSeconds - firstPassWall);
    }
    std::printf("pictures shown  %zu (%.1f per second)\n", shownAt.size(), shownAt.size() / wallSeconds);
    std::printf("paints          %d\n", counter.paints);
    std::printf("loops           %d (other notices: %d)\n", loops, failures);
    if (!gapsMs.empty())
        std::printf("frame interval  mean %.2f ms, min %.2f ms, max %.2f ms\n", meanMs, *minGap, *maxGap);
    std::printf("cpu per picture %.1f us\n", shownAt.empty() ? 0.0 : cpu * 1e6 / shownAt.size());
    return failures == 0 ? 0 : 1;
}
