// What the harnesses share: reading an input as a run of records, and
// stopping the run the moment a promise is broken, so that libFuzzer keeps
// the input that broke it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition, ...)                                                                        \
    do {                                                                                                  \
        if (!(condition)) {                                                                               \
            std::fprintf(stderr, "%s:%d: broken: %s: ", __FILE__, __LINE__, #condition);                  \
            std::fprintf(stderr, __VA_ARGS__);                                                            \
            std::fputc('\n', stderr);                                                                     \
            std::abort();                                                                                 \
        }                                                                                                 \
    } while (0)

namespace fuzzing {

// Hands out the input a piece at a time; past its end everything reads as
// zero, so a truncated record still means something.
class Reader {
public:
    Reader(const std::uint8_t *data, std::size_t size)
        : data_(data)
        , size_(size)
    {
    }

    bool empty() const { return at_ >= size_; }
    std::size_t left() const { return empty() ? 0 : size_ - at_; }

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    std::uint32_t u32()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= std::uint32_t(byte()) << (8 * i);
        return value;
    }

    // Copies up to n bytes and zero-fills the rest.
    void copy(void *to, std::size_t n)
    {
        const std::size_t got = n < left() ? n : left();
        if (got > 0)
            std::memcpy(to, data_ + at_, got);
        std::memset(static_cast<std::uint8_t *>(to) + got, 0, n - got);
        at_ += got;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace fuzzing
