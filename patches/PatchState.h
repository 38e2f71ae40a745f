#pragma once

#include <device/Instruments.h>

#include <array>

namespace tastavia::patches {

// The current quick patch, 1..16. Shared by the keyboard window and the
// patch selection window, which read and write it directly.
extern int CurrentPatch;
// One program-change word per quick patch, 1..16 (slot 0 unused). Slot k
// always holds an instrument of family k.
extern std::array<device::ProgramWord, 17> QuickPatches;

// Back to the state every run starts from.
void resetPatchState();

} // namespace tastavia::patches
