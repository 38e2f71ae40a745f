// Short messages to and from ALSA sequencer events. The sequencer speaks
// in events, not bytes, and centres pitch bend on zero where MIDI centres
// it on 8192.
#pragma once

#include "ShortMessage.h"

#include <alsa/asoundlib.h>

#include <optional>

namespace tastavia::korvalink {

// Fills in the event's type and data only; addressing is the sender's.
snd_seq_event_t toAlsaEvent(const ShortMessage &message);

// Channel voice events only: everything else, and values out of MIDI's
// range, give nothing.
std::optional<ShortMessage> fromAlsaEvent(const snd_seq_event_t &event);

} // namespace tastavia::korvalink
