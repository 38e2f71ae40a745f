// A keyboard window as the device library sees it: the post function of a
// KorvaWindow, recording every message from whichever thread it comes.
#pragma once

#include "PianoHeader.h"

#include <cstdint>
#include <mutex>
#include <vector>

struct Posted {
    std::uint32_t message;
    std::uint32_t wParam;
    std::uint32_t lParam;
    bool operator==(const Posted &) const = default;
};

class WindowRecorder {
public:
    KorvaWindow handle{this, [](void *self, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
                           auto *recorder = static_cast<WindowRecorder *>(self);
                           std::lock_guard lock(recorder->mutex_);
                           recorder->posted_.push_back(Posted{message, wParam, lParam});
                       }};

    std::vector<Posted> posted() const
    {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    std::vector<Posted> posted(std::uint32_t message) const
    {
        std::vector<Posted> matching;
        for (const Posted &p : posted()) {
            if (p.message == message)
                matching.push_back(p);
        }
        return matching;
    }
    std::size_t count(std::uint32_t message) const { return posted(message).size(); }
    void clear()
    {
        std::lock_guard lock(mutex_);
        posted_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
};
