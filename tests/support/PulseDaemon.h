// The private PulseAudio daemon of support/with-pulse.sh, for tests that
// stop, kill or restart it.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <sys/types.h>

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

} // namespace tastavia::testing
