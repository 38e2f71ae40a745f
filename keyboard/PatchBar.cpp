// The patch bar: quick-patch images, the instrument label and the
// select-patch image.
#include "PianoMain.h"

#include <patches/Patch.h>
#include <patches/PatchState.h>
#include <skin/ImageSwitch.h>

namespace tastavia::keyboard {

using patches::CurrentPatch;
using patches::QuickPatches;

namespace {

constexpr int OneLineLimit = 9; // GBK bytes

// Splits a long name after its first `bytes` GBK bytes; the second line
// starts with two spaces. A split point inside a character moves before it,
// so no character is ever cut in half.
QString twoLines(const QString &name, int bytes)
{
    int taken = 0;
    qsizetype at = 0;
    const QList<uint> chars = name.toUcs4();
    while (at < chars.size()) {
        const int width = chars[at] < 0x80 ? 1 : 2;
        if (taken + width > bytes)
            break;
        taken += width;
        ++at;
    }
    const QString first = QString::fromUcs4(reinterpret_cast<const char32_t *>(chars.constData()), at);
    const QString rest = QString::fromUcs4(reinterpret_cast<const char32_t *>(chars.constData()) + at, chars.size() - at);
    return first + QStringLiteral("\n  ") + rest;
}

int patchNumber(const ImageControl *image)
{
    return image->objectName().mid(8).toInt(); // "ImgPatch" + k
}

} // namespace

void TKeyboard::bindPatchBar()
{
    for (int k = 1; k <= 16; ++k) {
        ImageControl *image = PatchImages_[static_cast<std::size_t>(k)];
        // Names the slot after the instrument it starts with.
        setPatchHint(k, image->hint());
        image->onMouseDown = [this](ImageControl *s, Qt::MouseButton b, Qt::KeyboardModifiers m, QPoint p) { ImgPatchMouseDown(s, b, m, p); };
        image->onMouseUp = [this](ImageControl *s, Qt::MouseButton b, Qt::KeyboardModifiers m, QPoint p) { ImgPatchMouseUp(s, b, m, p); };
    }
    ImageControl *select = control(QStringLiteral("ImgSelectPatch"));
    select->onMouseMove = [this](ImageControl *, Qt::MouseButtons, Qt::KeyboardModifiers m, QPoint p) { ImgSelectPatchMouseMove(m, p); };
    select->onMouseUp = [this](ImageControl *, Qt::MouseButton b, Qt::KeyboardModifiers m, QPoint p) { ImgSelectPatchMouseUp(b, m, p); };
}

void TKeyboard::CoverPatchImg(int number, bool down)
{
    const QString state = down ? QStringLiteral("DOWN") : QStringLiteral("UP");
    if (number == 0)
        control(QStringLiteral("ImgSelectPatch"))->loadBitmap(QStringLiteral("SELECTPATCH_") + state);
    else if (number >= 1 && number <= 16)
        PatchImages_[static_cast<std::size_t>(number)]->loadBitmap(
            QStringLiteral("PATCH%1_%2").arg(number, 2, 10, QLatin1Char('0')).arg(state));
}

void TKeyboard::ChangeShowPatch(device::ProgramWord word)
{
    QString name = device::nameOfWord(word);
    const int bytes = device::gbkLength(name);
    if (bytes > OneLineLimit) {
        if (!ShowPatchShifted) {
            ShowPatch_->move(ShowPatch_->pos() + QPoint(-1, -7));
            ShowPatchShifted = true;
        }
        name = twoLines(name, bytes % 4 != 0 ? bytes / 2 + 1 : bytes / 2);
    } else if (ShowPatchShifted) {
        ShowPatch_->move(ShowPatch_->pos() + QPoint(1, 7));
        ShowPatchShifted = false;
    }
    ShowPatch_->setText(name);
    ShowPatch_->adjustSize();
    // Read out whole, not in the two halves the label shows.
    ShowPatch_->setAccessibleName(device::nameOfWord(word));
}

void TKeyboard::setPatchHint(int number, const QString &hint)
{
    if (number < 1 || number > 16)
        return;
    ImageControl *image = PatchImages_[static_cast<std::size_t>(number)];
    image->setHint(hint);
    // The picture shows only the slot's number; the instrument it holds
    // changes with every commit, and the spoken name has to follow.
    image->setAccessibleName(QString::fromUtf8("快捷音色 %1：%2").arg(QString::number(number), hint));
}

void TKeyboard::hoverReset()
{
    if (HoverPatch != CurrentPatch) {
        CoverPatchImg(HoverPatch, false);
        SelectPatchLit = false;
        HoverPatch = CurrentPatch;
    }
}

void TKeyboard::ImgPatchMouseDown(ImageControl *sender, Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    if (button != Qt::LeftButton)
        return;
    const int k = patchNumber(sender);
    if (k != CurrentPatch)
        CoverPatchImg(k, true);
}

void TKeyboard::ImgPatchMouseUp(ImageControl *sender, Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    // The release counts wherever it happens: the press captured the pointer.
    if (button != Qt::LeftButton)
        return;
    const int k = patchNumber(sender);
    if (k != CurrentPatch) {
        CoverPatchImg(CurrentPatch, false);
        CurrentPatch = k;
        // The picture the press loaded may be gone by now (a hover reset, or
        // the image was current and left again while its key was down).
        CoverPatchImg(k, true);
    }
    const device::ProgramWord word = QuickPatches[static_cast<std::size_t>(CurrentPatch)];
    ChangeShowPatch(word);
    // The bar follows the user whatever the device answers.
    patches::sendProgramWord(word);
}

void TKeyboard::ImgSelectPatchMouseMove(Qt::KeyboardModifiers, QPoint)
{
    HoverPatch = 0;
    if (!SelectPatchLit) {
        SelectPatchLit = true;
        CoverPatchImg(0, true);
    }
}

void TKeyboard::ImgSelectPatchMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (!skin::releasedInside(control(QStringLiteral("ImgSelectPatch")), button, pos) || !patchSelect_)
        return;
    if (patchSelect_->isVisible()) {
        patchSelect_->hide();
        return;
    }
    patchSelect_->FormShow();
    // The keyboard keeps the focus, so playing from the computer keyboard
    // goes on, and stays on top where the two overlap. Taking the focus
    // back after the show loses to managers that focus the new window a
    // moment later (mutter), and the round trip ends held notes (icewm).
    patchSelect_->showWithoutFocus();
    raise();
}

} // namespace tastavia::keyboard
