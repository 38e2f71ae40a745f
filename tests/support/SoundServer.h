// The private sound servers of support/with-pulse.sh and
// support/with-pipewire.sh (a PulseAudio daemon, or pipewire with
// wireplumber and pipewire-pulse), for tests that stop, kill or restart them
// or listen to their null sink. The same calls drive either.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <functional>
#include <vector>

namespace tastavia::testing {

// Sends signal to the script whose process id is in the variable control
// and waits until the state file it names in stateVariable says what the
// script has done; empty when there is no such script or it took too long.
inline QByteArray askServerScript(const char *control, const char *stateVariable, int signal)
{
    const char *script = std::getenv(control);
    const QString stateFile = qEnvironmentVariable(stateVariable);
    if (script == nullptr || stateFile.isEmpty())
        return {};
    QFile::remove(stateFile);
    if (::kill(std::atoi(script), signal) != 0)
        return {};
    QByteArray state;
    const bool done = QTest::qWaitFor(
        [&] {
            QFile file(stateFile);
            state = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
            return !state.isEmpty();
        },
        40000);
    return done ? state : QByteArray();
}

namespace soundserver {

// "pulseaudio" or "pipewire".
inline QByteArray name() { return qgetenv("TASTAVIA_SOUND_SERVER"); }

inline std::vector<pid_t> pidsIn(const QByteArray &state)
{
    std::vector<pid_t> pids;
    if (state.startsWith("running "))
        for (const QByteArray &pid : state.mid(8).split(' '))
            pids.push_back(pid.toInt());
    return pids;
}

// The running servers' process ids, for a test to kill or stop them; none
// outside those scripts or while stopped.
inline std::vector<pid_t> pids()
{
    QFile file(qEnvironmentVariable("TASTAVIA_SOUND_STATE"));
    return pidsIn(file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray());
}

// Stops them cleanly, or starts them again with the sink and the settings
// they had, as a desktop session restarts its sound server; killed ones are
// first cleared away. Each waits until it is done; start gives the new
// process ids, none on failure.
inline bool stop() { return askServerScript("TASTAVIA_SOUND_CONTROL", "TASTAVIA_SOUND_STATE", SIGUSR1) == "stopped"; }
inline std::vector<pid_t> start()
{
    return pidsIn(askServerScript("TASTAVIA_SOUND_CONTROL", "TASTAVIA_SOUND_STATE", SIGUSR2));
}

} // namespace soundserver

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
