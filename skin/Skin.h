#pragma once

// Set once at start-up, before any window exists, and only read afterwards:
// true selects the colour-keyed skins and the patch window's placement above
// the keyboard. Linux counts as a modern NT-family system, so it is true there.
extern bool IsNT5;
