// The private PulseAudio daemon of support/with-pulse.sh, for tests that
// stop, kill or restart it or listen to its null sink.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/types.h>

#include <functional>
#include <vector>

namespace tastavia::testing {

// The daemon that shares our runtime path; 0 when there is none.
inline pid_t ourPulseDaemon()
{
    const QByteArray runtime = QByteArray("PULSE_RUNTIME_PATH=") + qgetenv("PULSE_RUNTIME_PATH");
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile comm(QStringLiteral("/proc/%1/comm").arg(entry));
        if (!number || !comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "pulseaudio")
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(runtime))
            return pid;
    }
    return 0;
}

// What the null sink played while meanwhile ran: 48 kHz mono samples, none
// when the recorder would not start.
inline std::vector<qint16> recordNullSink(const std::function<void()> &meanwhile)
{
    QProcess parec;
    parec.start(QStringLiteral("parec"), {QStringLiteral("-d"), QStringLiteral("out.monitor"), QStringLiteral("--raw"),
                                          QStringLiteral("--format=s16le"), QStringLiteral("--rate=48000"),
                                          QStringLiteral("--channels=1")});
    if (!parec.waitForStarted())
        return {};
    meanwhile();
    parec.terminate();
    parec.waitForFinished(3000);
    const QByteArray raw = parec.readAllStandardOutput();
    const auto *samples = reinterpret_cast<const qint16 *>(raw.constData());
    return std::vector<qint16>(samples, samples + raw.size() / 2);
}

} // namespace tastavia::testing
