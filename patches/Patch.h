#pragma once

#include "PatchBarView.h"

#include <device/Instruments.h>
#include <skin/SkinWindow.h>

#include <QListWidget>

namespace tastavia::patches {

// The patch selection window: any of the 128 instruments, chosen by family
// and instrument, previewed with Apply, committed to its family's quick
// patch with OK, or dropped with Cancel. Created hidden at start-up; closing
// only hides it.
class TPatchSelect : public skin::SkinWindow
{
    Q_OBJECT
public:
    explicit TPatchSelect(PatchBarView *patchBar = nullptr);
    void FormCreate();
    void setPatchBar(PatchBarView *patchBar) { patchBar_ = patchBar; }

    QListWidget *PatchTypes() const { return PatchTypes_; }
    QListWidget *PatchStyles() const { return PatchStyles_; }
    skin::ImageControl *control(const QString &name) const;

    int ChosenFamily = 1;
    device::ProgramWord ChosenMessage = 0xC0;

    // Positions the window and loads its lists from the current quick
    // patch; run by the patch bar each time it shows the window. A restore of
    // the minimised program shows it again without this, so a choice in
    // progress survives.
    void FormShow();
    void DisplayPatchStyles();
    void PatchTypesClick();
    void PatchStylesClick();
    void PatchTypesDblClick();
    void PatchStylesDblClick();

    void ImgOkMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgOkMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgCancleMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgCancleMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgApplyMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgApplyMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pos) override;

private:
    void createLists();
    void createButtons();
    void okAction();
    void cancelAction();
    void placeBesideKeyboard();
    int selectedFamilyIndex() const;

    PatchBarView *patchBar_;
    QListWidget *PatchTypes_ = nullptr;
    QListWidget *PatchStyles_ = nullptr;
};

// Sends a program-change word to the device; true when it was accepted.
bool sendProgramWord(device::ProgramWord word);

} // namespace tastavia::patches
