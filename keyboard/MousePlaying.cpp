// Playing the keys with the mouse: press, release, glide, and release by
// moving onto the bare window. Pictures and the held key change only after
// the device library has accepted the message.
#include "PianoMain.h"

#include <QGuiApplication>

namespace tastavia::keyboard {

namespace {
constexpr std::uint32_t NoteOn = 0x7F0090;
constexpr std::uint32_t NoteOff = 0x7F0080;
constexpr std::uint32_t SilentNoteOff = 0x80;
constexpr std::uint32_t MimData = KORVA_MIM_DATA;

std::uint32_t withNote(std::uint32_t message, std::uint8_t note)
{
    return message + note * 256u;
}
} // namespace

bool TKeyboard::sendShortMessage(std::uint32_t message)
{
    if (!KorvaTrue(MidiInProc(0, MimData, 0, message, 0)))
        return false;
    const std::uint32_t status = message & 0xF0;
    const std::size_t note = (message >> 8) & 0x7F;
    const std::uint32_t velocity = (message >> 16) & 0x7F;
    if (status == 0x90 && velocity > 0)
        sounding_.set(note);
    else if (status == 0x80 || status == 0x90)
        sounding_.reset(note);
    return true;
}

void TKeyboard::bindKeyHandlers(ImageControl *key)
{
    key->onMouseDown = [this](ImageControl *k, Qt::MouseButton b, Qt::KeyboardModifiers, QPoint) { ImgKeyMouseDown(k, b); };
    key->onMouseUp = [this](ImageControl *k, Qt::MouseButton b, Qt::KeyboardModifiers, QPoint) { ImgKeyMouseUp(k, b); };
    key->onMouseMove = [this](ImageControl *k, Qt::MouseButtons b, Qt::KeyboardModifiers, QPoint) { ImgKeyMouseMove(k, b); };
}

void TKeyboard::ImgKeyMouseDown(ImageControl *key, Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        return;
    // Without the capture, a glide reaches the next key and the bare window.
    // A press from the computer keyboard leaves alone a capture that the
    // mouse holds on another image: that press's release must reach it.
    if (capture() == key)
        releaseCapture();
    if (key == HeldKey())
        return;
    const std::uint8_t note = GetNote(key);
    if (note == 0 || !sendShortMessage(withNote(NoteOn, note)))
        return;
    // A key held before stays down and sounding, no longer recorded: that is
    // how several computer keys hold several notes.
    showKeyDown(key);
    KeyImages[0] = key;
}

void TKeyboard::ImgKeyMouseUp(ImageControl *key, Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        return;
    const std::uint8_t note = GetNote(key);
    if (note == 0 || !sendShortMessage(withNote(NoteOff, note)))
        return;
    showKeyUp(key);
    KeyImages[0] = nullptr;
}

void TKeyboard::ImgKeyMouseMove(ImageControl *key, Qt::MouseButtons buttons)
{
    if (!(buttons & Qt::LeftButton) || key == HeldKey())
        return;
    const std::uint8_t note = GetNote(key);
    // The new note starts before the old one ends, so a glide never falls
    // silent between keys.
    if (note == 0 || !sendShortMessage(withNote(NoteOn, note)))
        return;
    showKeyDown(key);
    if (ImageControl *old = HeldKey()) {
        const std::uint8_t oldNote = GetNote(old);
        if (oldNote == 0 || !sendShortMessage(withNote(NoteOff, oldNote)))
            return;
        showKeyUp(old);
    }
    KeyImages[0] = key;
}

void TKeyboard::FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPoint pos)
{
    if (insideAdvertArea(pos)) {
        setSurfaceCursor(Qt::PointingHandCursor);
        return;
    }
    setSurfaceCursor(Qt::ArrowCursor);
    hoverReset();
    if (!releaseNotesOfTheMouse())
        return;
    if ((buttons & Qt::LeftButton) && inDragZone(dragOrigin(pos)))
        startDrag(pos);
}

// What the move onto the bare window ends: the held key's note, then the
// leftovers. False when the device refused to end the held key's note.
bool TKeyboard::releaseNotesOfTheMouse()
{
    if (ImageControl *held = HeldKey()) {
        const std::uint8_t note = GetNote(held);
        if (note == 0 || !sendShortMessage(withNote(SilentNoteOff, note)))
            return false;
        showKeyUp(held);
        KeyImages[0] = nullptr;
    }
    releaseLeftoverNotes();
    return true;
}

// A box that opens while the mouse holds a key takes the pointer, and the
// release goes to the box: the note would sound on after it is answered.
void TKeyboard::releaseMouseHeldKey()
{
    ImageControl *held = HeldKey();
    if (!held || !(QGuiApplication::mouseButtons() & Qt::LeftButton) || heldByComputerKey(GetNote(held)))
        return;
    ImgKeyMouseUp(held, Qt::LeftButton);
}

// A key pressed while another was held replaces it as the held key without
// ending its note, and a release can land on another key than the one the
// mouse holds: such notes have nothing left that would end them. The move
// onto the bare window that ends the held key's note ends theirs too, except
// where a computer key is still down on them.
void TKeyboard::releaseLeftoverNotes()
{
    releaseComputerKeysLetGoElsewhere();
    for (int note = FirstNote; note <= LastNote; ++note) {
        if (!sounding_.test(static_cast<std::size_t>(note)) || heldByComputerKey(note))
            continue;
        if (!sendShortMessage(withNote(SilentNoteOff, static_cast<std::uint8_t>(note))))
            return;
        showKeyUp(KeyImages[static_cast<std::size_t>(note)]);
    }
}

bool TKeyboard::inDragZone(QPoint pos) const
{
    // Measured from the live layout each time, not from fixed numbers.
    const int bandBottom = control(QStringLiteral("ImgKey3C"))->y() - 10;
    const int rightEnd = background()->width() - 30;
    return pos.y() < bandBottom || pos.x() > rightEnd;
}

bool TKeyboard::insideAdvertArea(QPoint pos) const
{
    const QRect strip = Ad_->geometry();
    return pos.x() > strip.left() && pos.x() < strip.left() + strip.width() && pos.y() > strip.top() &&
           pos.y() < strip.top() + strip.height();
}

} // namespace tastavia::keyboard
