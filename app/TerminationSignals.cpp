#include "TerminationSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tastavia::app {

namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler may only write to a descriptor; the loop does the rest.
// One per process, as signal dispositions are.
volatile std::sig_atomic_t wakeFd = -1;

extern "C" void onTerminationSignal(int)
{
    const int fd = wakeFd;
    if (fd < 0)
        return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0)
        return;
    // A full pipe must not block the handler; one byte already wakes us.
    ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    ::fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    wakeFd = fds_[0];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::onSignal);

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Caught)
        ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (const int signal : Caught)
        std::signal(signal, SIG_DFL);
    wakeFd = -1;
    notifier_.reset();
    for (const int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

void TerminationSignals::onSignal()
{
    char bytes[16];
    while (::read(fds_[1], bytes, sizeof bytes) > 0) {
    }
    // The same end as closing the keyboard window; it also ends any report
    // box's loop that is open at the time.
    requested_ = true;
    QCoreApplication::exit(0);
}

} // namespace tastavia::app
