// What the device library reports back: incoming notes, errors and stops.
#include "PianoMain.h"

#include <QMessageBox>
#include <QPushButton>

namespace tastavia::keyboard {

void TKeyboard::HitKey(std::uint32_t wParam)
{
    const std::uint32_t note = (wParam >> 8) & 0xFF;
    if (note < FirstNote || note > LastNote)
        return;
    const std::uint32_t status = wParam & 0xFF;
    const std::uint32_t velocity = (wParam >> 16) & 0xFF;
    // Only channel 1 counts; the held key is neither read nor changed, so a
    // key held with the mouse still sends its own note off later.
    if (status == 0x90 && velocity != 0)
        showKeyDown(KeyImages[note]);
    else if (status == 0x80 || status == 0x90)
        showKeyUp(KeyImages[note]);
}

void TKeyboard::ErrorProcess(std::uint32_t lParam)
{
    QString text;
    if (lParam == KORVA_ERR_NOTE_OUT_OF_RANGE)
        text = QString::fromUtf8("音符超出范围");
    else if (lParam == KORVA_ERR_SOUND_FAILED)
        text = QString::fromUtf8("发音失败");
    else
        return;
    // Each box runs its own event loop while the window keeps handling device
    // messages, so a device that floods reports would nest one loop per
    // report until the stack overflows. While a box with the same text is
    // open, a further identical report adds nothing the user could read.
    if (openErrorBoxes_.contains(lParam))
        return;
    openErrorBoxes_.insert(lParam);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tastavia"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("DeviceErrorBox"));
    box.button(QMessageBox::Ok)->setText(QString::fromUtf8("确定"));
    box.exec();
    openErrorBoxes_.remove(lParam);
}

void TKeyboard::MidiStopMsg() {}

} // namespace tastavia::keyboard
