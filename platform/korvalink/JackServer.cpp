#include "JackServer.h"

#include "QuietLibraries.h"

#include <jack/jack.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

namespace tastavia::korvalink {

bool jackServerAnswers(std::chrono::milliseconds limit)
{
    // libjack is one per process, and so is a question left waiting on it.
    static std::atomic<bool> asking{false};
    if (asking.exchange(true, std::memory_order_acq_rel))
        return false;
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    std::thread([answer] {
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
        answer->set_value(running);
    }).detach();
    return answered.wait_for(limit) == std::future_status::ready && answered.get();
}

} // namespace tastavia::korvalink
