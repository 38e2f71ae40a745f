#include "JackServer.h"

#include "QuietLibraries.h"

#include <jack/jack.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tastavia::korvalink {

namespace {

struct Question {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    bool running = false;
};

} // namespace

bool jackServerAnswers(std::chrono::milliseconds limit)
{
    // libjack is one per process, and so is a question left waiting on it.
    static std::atomic<bool> asking{false};
    if (asking.exchange(true, std::memory_order_acq_rel))
        return false;
    auto question = std::make_shared<Question>();
    std::thread([question] {
        bool running = false;
        {
            QuietJack quiet;
            jack_status_t status{};
            if (jack_client_t *probe = jack_client_open("Tastavia probe", JackNoStartServer, &status)) {
                jack_client_close(probe);
                running = true;
            }
        }
        asking.store(false, std::memory_order_release);
        std::lock_guard lock(question->mutex);
        question->running = running;
        question->done = true;
        question->answered.notify_all();
    }).detach();
    std::unique_lock lock(question->mutex);
    return question->answered.wait_for(lock, limit, [&] { return question->done; }) && question->running;
}

} // namespace tastavia::korvalink
