#pragma once

#include <device/Instruments.h>

#include <QRect>
#include <QString>

namespace tastavia::patches {

// What the patch selection window needs of the keyboard window's patch bar.
// The keyboard window implements it; keeping it here lets the selection
// window live apart from the keyboard.
class PatchBarView
{
public:
    virtual ~PatchBarView() = default;
    virtual void CoverPatchImg(int number, bool down) = 0;
    virtual void ChangeShowPatch(device::ProgramWord word) = 0;
    virtual void hoverReset() = 0;
    virtual void setHoverPatch(int number) = 0;
    virtual void setPatchHint(int number, const QString &hint) = 0;
    // The keyboard window's place on the screen, for placing the selection
    // window beside it.
    virtual QRect keyboardGeometry() const = 0;
};

} // namespace tastavia::patches
