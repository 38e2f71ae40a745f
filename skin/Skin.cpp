#include "Skin.h"

bool IsNT5 = true;
