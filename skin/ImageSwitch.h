#pragma once

#include "ImageControl.h"

namespace tastavia::skin {

// The press-and-release protocol every picture switch follows: the left
// key shows the "_DOWN" picture on the press; any left release shows
// "_UP" again wherever it happens, and only a release strictly inside the
// switch acts. The right column and bottom row count as inside, the left
// column and top row do not.
void switchPress(ImageControl *control, const QString &baseName, Qt::MouseButton button);
// Returns whether the switch should act.
bool switchRelease(ImageControl *control, const QString &baseName, Qt::MouseButton button, QPoint pos);
// The same test for switches without press pictures.
bool releasedInside(const QWidget *control, Qt::MouseButton button, QPoint pos);

} // namespace tastavia::skin
