#pragma once

// The program's named bitmaps and their sizes. The artwork generator draws
// exactly this list, and the resources library refuses any other name, so
// the two can never drift apart. Header-only on purpose: the generator must
// build before the pictures it writes exist.

#include <array>
#include <string_view>

namespace tastavia::resources::catalogue {

struct Entry {
    std::u16string_view name;
    int width;
    int height;
};

inline constexpr std::array<Entry, 64> entries{{
    {u"BACKGROUND_NT", 714, 192},
    {u"BACKGROUND_WINDOWS", 714, 192},
    {u"PATCHBACKGROUND_NT", 310, 321},
    {u"PATCHBACKGROUND_WINDOWS", 311, 324},
    {u"ADBACKGROUND", 400, 356},
    {u"WHITEKEY_UP", 18, 83},
    {u"WHITEKEY_DOWN", 18, 83},
    {u"BLACKKEY_UP", 18, 47},
    {u"BLACKKEY_DOWN", 18, 47},
    {u"PATCH01_UP", 28, 28},
    {u"PATCH02_UP", 28, 28},
    {u"PATCH03_UP", 28, 28},
    {u"PATCH04_UP", 28, 28},
    {u"PATCH05_UP", 28, 28},
    {u"PATCH06_UP", 28, 28},
    {u"PATCH07_UP", 28, 28},
    {u"PATCH08_UP", 28, 28},
    {u"PATCH09_UP", 28, 28},
    {u"PATCH10_UP", 28, 28},
    {u"PATCH11_UP", 28, 28},
    {u"PATCH12_UP", 28, 28},
    {u"PATCH13_UP", 28, 28},
    {u"PATCH14_UP", 28, 28},
    {u"PATCH15_UP", 28, 28},
    {u"PATCH16_UP", 28, 28},
    {u"PATCH01_DOWN", 28, 28},
    {u"PATCH02_DOWN", 28, 28},
    {u"PATCH03_DOWN", 28, 28},
    {u"PATCH04_DOWN", 28, 28},
    {u"PATCH05_DOWN", 28, 28},
    {u"PATCH06_DOWN", 28, 28},
    {u"PATCH07_DOWN", 28, 28},
    {u"PATCH08_DOWN", 28, 28},
    {u"PATCH09_DOWN", 28, 28},
    {u"PATCH10_DOWN", 28, 28},
    {u"PATCH11_DOWN", 28, 28},
    {u"PATCH12_DOWN", 28, 28},
    {u"PATCH13_DOWN", 28, 28},
    {u"PATCH14_DOWN", 28, 28},
    {u"PATCH15_DOWN", 28, 28},
    {u"PATCH16_DOWN", 28, 28},
    {u"SELECTPATCH_UP", 52, 52},
    {u"SELECTPATCH_DOWN", 52, 52},
    {u"CLOSE_UP", 18, 18},
    {u"CLOSE_DOWN", 18, 18},
    {u"MINIMIZE_UP", 18, 18},
    {u"MINIMIZE_DOWN", 18, 18},
    {u"HELP_UP", 18, 18},
    {u"HELP_DOWN", 18, 18},
    {u"STAFF_UP", 18, 18},
    {u"STAFF_DOWN", 18, 18},
    {u"Logo", 31, 37},
    {u"PATCHOK_UP", 66, 25},
    {u"PATCHOK_DOWN", 66, 25},
    {u"PATCHCANCLE_UP", 66, 25},
    {u"PATCHCANCLE_DOWN", 66, 25},
    {u"PATCHAPPLY_UP", 66, 25},
    {u"PATCHAPPLY_DOWN", 66, 25},
    {u"ADCLOSE_UP", 21, 21},
    {u"ADCLOSE_DOWN", 21, 21},
    {u"NEXTPAGE_UP", 21, 21},
    {u"NEXTPAGE_DOWN", 21, 21},
    {u"UPPERPAGE_UP", 21, 21},
    {u"UPPERPAGE_DOWN", 21, 21},
}};

// Pictures placed by the window layouts rather than swapped by name.
// The designed black key is a near-copy of BLACKKEY_UP that the keys show
// until their first release; the others alias named bitmaps.
inline constexpr int blackKeyDesignedWidth = 18;
inline constexpr int blackKeyDesignedHeight = 47;

// Square sizes of the application icon, each stored as its own PNG. The
// window icon needs no more than 64 px, so only these are built into the
// program.
inline constexpr int iconSizes[] = {16, 32, 48, 64};
// Sizes that desktop menus and software centres ask the icon theme for.
// They are drawn at their own size, like the small ones, and installed
// beside them, but not built into the program.
inline constexpr int themeOnlyIconSizes[] = {128, 256};

} // namespace tastavia::resources::catalogue
