// Whether a JACK server is there to talk to, asked without waiting for good.
#pragma once

#include <chrono>

namespace tastavia::korvalink {

// libjack has no time limit of its own: opening a client waits for the
// server's answer, and a stopped or hung server never gives one. A local
// server answers in a few milliseconds; this allows for a loaded machine.
inline constexpr std::chrono::milliseconds kJackAnswerLimit{2000};

// True when a JACK server runs and answers within the limit; never starts
// one. A server that does not answer in time counts as absent, and until
// that question ends every further one is answered no at once, so that a
// hung server ties up one thread of ours and no more.
bool jackServerAnswers(std::chrono::milliseconds limit = kJackAnswerLimit);

} // namespace tastavia::korvalink
