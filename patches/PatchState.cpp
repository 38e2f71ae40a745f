#include "PatchState.h"

namespace tastavia::patches {

namespace {
std::array<device::ProgramWord, 17> initialQuickPatches()
{
    std::array<device::ProgramWord, 17> words{};
    for (int k = 1; k <= 16; ++k)
        words[static_cast<std::size_t>(k)] = device::wordOfProgram(device::firstProgramOfFamily(k));
    return words;
}
} // namespace

int CurrentPatch = 1;
std::array<device::ProgramWord, 17> QuickPatches = initialQuickPatches();

void resetPatchState()
{
    CurrentPatch = 1;
    QuickPatches = initialQuickPatches();
}

} // namespace tastavia::patches
