#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace tastavia::app {

// Turns SIGTERM, SIGINT and SIGHUP (a log-out, `kill`, Ctrl+C in a
// terminal) into the normal end of the program: the event loop ends as when
// the keyboard window is closed, so the shutdown disconnects the device and
// an external synth lets go of the held notes. While an object lives the
// signals are caught; afterwards they have their default effect again.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    TerminationSignals();
    ~TerminationSignals() override;

    bool active() const { return notifier_ != nullptr; }
    // A signal handled before the event loop runs (while the splash paints,
    // or in a start-up box's own loop) had no loop to end: the caller must
    // not start one.
    bool requested() const { return requested_; }

private:
    void onSignal();

    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    bool requested_ = false;
};

} // namespace tastavia::app
