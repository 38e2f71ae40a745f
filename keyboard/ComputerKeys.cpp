// Playing from the computer keyboard: key codes become presses and releases
// of the window's own images, through the very handlers the mouse uses.
#include "PianoMain.h"

#include <platform/desktop/Desktop.h>

#include <QGuiApplication>
#include <QKeyEvent>

#include <utility>

namespace tastavia::keyboard {

namespace {

struct NoteKey {
    std::uint16_t code;
    const char *image;
};

// Three rows of the US layout and three keypad keys play the 36 white keys.
constexpr NoteKey NoteKeys[] = {
    {0x5A, "ImgKey1C"}, {0x58, "ImgKey1D"}, {0x43, "ImgKey1E"}, {0x56, "ImgKey1F"}, {0x42, "ImgKey1G"},
    {0x4E, "ImgKey1A"}, {0x4D, "ImgKey1B"}, {0xBC, "ImgKey2C"}, {0xBE, "ImgKey2D"}, {0xBF, "ImgKey2E"},
    {0x41, "ImgKey2F"}, {0x53, "ImgKey2G"}, {0x44, "ImgKey2A"}, {0x46, "ImgKey2B"}, {0x47, "ImgKey3C"},
    {0x48, "ImgKey3D"}, {0x4A, "ImgKey3E"}, {0x4B, "ImgKey3F"}, {0x4C, "ImgKey3G"}, {0xBA, "ImgKey3A"},
    {0xDE, "ImgKey3B"}, {0x51, "ImgKey4C"}, {0x57, "ImgKey4D"}, {0x45, "ImgKey4E"}, {0x52, "ImgKey4F"},
    {0x54, "ImgKey4G"}, {0x59, "ImgKey4A"}, {0x55, "ImgKey4B"}, {0x49, "ImgKey5C"}, {0x4F, "ImgKey5D"},
    {0x50, "ImgKey5E"}, {0xDB, "ImgKey5F"}, {0xDD, "ImgKey5G"}, {0x60, "ImgKey5A"}, {0x6E, "ImgKey5B"},
    {0x61, "ImgKey6C"},
};

// Digits 1 to 0, then the six-key block above the arrows, row by row.
constexpr std::uint16_t PatchKeys[16] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,
                                         0x39, 0x30, 0x2D, 0x24, 0x21, 0x2E, 0x23, 0x22};

constexpr std::uint16_t CtrlP = 0x50, CtrlS = 0x53, CtrlW = 0x57, CtrlF1 = 0x70;
constexpr QPoint KeyPoint(1, 1); // inside every target image

const char *noteImage(std::uint16_t code)
{
    for (const NoteKey &k : NoteKeys)
        if (k.code == code)
            return k.image;
    return nullptr;
}

int patchOfKey(std::uint16_t code)
{
    for (int k = 0; k < 16; ++k)
        if (PatchKeys[k] == code)
            return k + 1;
    return 0;
}

// X11 keycodes of the US positions, so the keys sit where the table puts
// them whatever layout is active.
struct Position {
    quint32 keycode;
    std::uint16_t code;
};
constexpr Position Positions[] = {
    {52, 0x5A}, {53, 0x58}, {54, 0x43}, {55, 0x56}, {56, 0x42}, {57, 0x4E}, {58, 0x4D}, {59, 0xBC},
    {60, 0xBE}, {61, 0xBF}, {38, 0x41}, {39, 0x53}, {40, 0x44}, {41, 0x46}, {42, 0x47}, {43, 0x48},
    {44, 0x4A}, {45, 0x4B}, {46, 0x4C}, {47, 0xBA}, {48, 0xDE}, {24, 0x51}, {25, 0x57}, {26, 0x45},
    {27, 0x52}, {28, 0x54}, {29, 0x59}, {30, 0x55}, {31, 0x49}, {32, 0x4F}, {33, 0x50}, {34, 0xDB},
    {35, 0xDD}, {10, 0x31}, {11, 0x32}, {12, 0x33}, {13, 0x34}, {14, 0x35}, {15, 0x36}, {16, 0x37},
    {17, 0x38}, {18, 0x39}, {19, 0x30}, {118, 0x2D}, {110, 0x24}, {112, 0x21}, {119, 0x2E}, {115, 0x23},
    {117, 0x22}, {67, 0x70},
};

// Keypad keys count by what they deliver, which Num Lock decides: the X11
// key symbol tells.
struct KeypadSymbol {
    quint32 keysym;
    std::uint16_t code;
};
constexpr KeypadSymbol KeypadSymbols[] = {
    {0xFFB0, 0x60}, {0xFFAE, 0x6E}, {0xFFB1, 0x61}, {0xFF9E, 0x2D}, {0xFF9F, 0x2E},
    {0xFF9C, 0x23}, {0xFF9B, 0x22}, {0xFF95, 0x24}, {0xFF9A, 0x21},
};

struct QtKey {
    int key;
    std::uint16_t code;
};
// Where no keycode is reported (offscreen), the Qt key stands in, shifted
// symbols included, since Shift makes no difference.
constexpr QtKey QtKeys[] = {
    {Qt::Key_Comma, 0xBC}, {Qt::Key_Less, 0xBC}, {Qt::Key_Period, 0xBE}, {Qt::Key_Greater, 0xBE},
    {Qt::Key_Slash, 0xBF}, {Qt::Key_Question, 0xBF}, {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Colon, 0xBA},
    {Qt::Key_Apostrophe, 0xDE}, {Qt::Key_QuoteDbl, 0xDE}, {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD}, {Qt::Key_Insert, 0x2D}, {Qt::Key_Home, 0x24},
    {Qt::Key_PageUp, 0x21}, {Qt::Key_Delete, 0x2E}, {Qt::Key_End, 0x23}, {Qt::Key_PageDown, 0x22},
    {Qt::Key_F1, 0x70}, {Qt::Key_Exclam, 0x31}, {Qt::Key_At, 0x32}, {Qt::Key_NumberSign, 0x33},
    {Qt::Key_Dollar, 0x34}, {Qt::Key_Percent, 0x35}, {Qt::Key_AsciiCircum, 0x36}, {Qt::Key_Ampersand, 0x37},
    {Qt::Key_Asterisk, 0x38}, {Qt::Key_ParenLeft, 0x39}, {Qt::Key_ParenRight, 0x30},
};

std::uint16_t codeFromQtKey(const QKeyEvent &event)
{
    const int key = event.key();
    if (event.modifiers() & Qt::KeypadModifier) {
        if (key == Qt::Key_0)
            return 0x60;
        if (key == Qt::Key_1)
            return 0x61;
        if (key == Qt::Key_Period)
            return 0x6E;
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return 0; // keypad 2 to 9 play nothing
    }
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return static_cast<std::uint16_t>(key);
    for (const QtKey &k : QtKeys)
        if (k.key == key)
            return k.code;
    return 0;
}

} // namespace

// The Windows virtual-key code of a key event, or 0 for a key without one
// in the program's map.
std::uint16_t virtualKeyOf(const QKeyEvent &event)
{
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb") && event.nativeScanCode() != 0;
    if (x11) {
        for (const KeypadSymbol &k : KeypadSymbols)
            if (k.keysym == event.nativeVirtualKey())
                return k.code;
        if (event.modifiers() & Qt::KeypadModifier)
            return 0;
        for (const Position &p : Positions)
            if (p.keycode == event.nativeScanCode())
                return p.code;
        return 0;
    }
    return codeFromQtKey(event);
}

void TKeyboard::FormKeyDown(std::uint16_t key, Qt::KeyboardModifiers shift)
{
    if (shift & Qt::ControlModifier)
        return;
    if (const char *image = noteImage(key))
        ImgKeyMouseDown(control(QLatin1String(image)), Qt::LeftButton);
    else if (const int patch = patchOfKey(key))
        ImgPatchMouseDown(PatchImages_[static_cast<std::size_t>(patch)], Qt::LeftButton, shift, KeyPoint);
}

void TKeyboard::FormKeyUp(std::uint16_t key, Qt::KeyboardModifiers shift)
{
    if (shift & Qt::ControlModifier) {
        // Only the four shortcuts: a note key released with Ctrl keeps sounding.
        switch (key) {
        case CtrlP: ImgSelectPatchMouseUp(Qt::LeftButton, shift, KeyPoint); break;
        case CtrlS: ImgStaffMouseUp(Qt::LeftButton, shift, KeyPoint); break;
        case CtrlW: ImgLogoMouseUp(Qt::LeftButton, shift, KeyPoint); break;
        case CtrlF1: ImgHelpMouseUp(Qt::LeftButton, shift, KeyPoint); break;
        default: break;
        }
        return;
    }
    if (const char *image = noteImage(key))
        ImgKeyMouseUp(control(QLatin1String(image)), Qt::LeftButton);
    else if (const int patch = patchOfKey(key))
        ImgPatchMouseUp(PatchImages_[static_cast<std::size_t>(patch)], Qt::LeftButton, shift, KeyPoint);
}

void TKeyboard::keyPressEvent(QKeyEvent *event)
{
    const std::uint16_t key = virtualKeyOf(*event);
    // Quick-patch keys too: one held when the focus leaves would otherwise
    // keep its pressed picture beside the current patch's.
    if ((noteImage(key) || patchOfKey(key)) && !(event->modifiers() & Qt::ControlModifier))
        computerKeysDown_.insert(key, event->nativeScanCode());
    // Auto-repeats call the press handler too; the held key ignores them.
    FormKeyDown(key, event->modifiers());
}

void TKeyboard::keyReleaseEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat())
        return;
    const std::uint16_t key = virtualKeyOf(*event);
    computerKeysDown_.remove(key);
    FormKeyUp(key, event->modifiers());
}

// A window that loses the focus never hears the key-ups of the keys still
// down (another window was activated, or a report's box opened while
// playing): their notes end as those key-ups would have ended them.
void TKeyboard::releaseComputerKeys()
{
    const auto down = std::exchange(computerKeysDown_, {});
    for (auto it = down.cbegin(); it != down.cend(); ++it)
        FormKeyUp(it.key(), Qt::NoModifier);
}

// The focus can leave and come back so quickly that the toolkit never
// reports it, while a key-up went to the other window in between. The X
// server still knows which keys are down.
void TKeyboard::releaseComputerKeysLetGoElsewhere()
{
    if (computerKeysDown_.isEmpty())
        return;
    const auto down = desktop::keysDownNow();
    if (!down)
        return;
    for (auto it = computerKeysDown_.begin(); it != computerKeysDown_.end();) {
        const quint32 code = it.value();
        if (code == 0 || code >= down->size() || down->test(code)) {
            ++it;
            continue;
        }
        const std::uint16_t key = it.key();
        it = computerKeysDown_.erase(it);
        FormKeyUp(key, Qt::NoModifier);
    }
}

bool TKeyboard::heldByComputerKey(int note) const
{
    for (auto it = computerKeysDown_.cbegin(); it != computerKeysDown_.cend(); ++it) {
        const char *image = noteImage(it.key());
        if (image && GetNote(control(QLatin1String(image))) == note)
            return true;
    }
    return false;
}

} // namespace tastavia::keyboard
