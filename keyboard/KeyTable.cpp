// The 61 keys: their names, places, stacking and the note lookups.
#include "PianoMain.h"

namespace tastavia::keyboard {

namespace {

constexpr int KeyTop = 95;
constexpr int KeyWidth = 18;
constexpr int WhiteKeyHeight = 83;
constexpr int BlackKeyHeight = 47;

// Left edge of each key, by octave digit and semitone (C, CS, D ... B). The
// irregular black-key offsets and the two 17-pixel white steps are designed.
constexpr int KeyLeft[5][12] = {
    {19, 25, 37, 46, 54, 72, 77, 90, 98, 108, 119, 126},
    {144, 151, 162, 172, 180, 198, 203, 216, 224, 234, 245, 252},
    {270, 276, 288, 298, 306, 324, 331, 342, 351, 360, 371, 378},
    {396, 404, 414, 424, 432, 450, 455, 467, 476, 485, 496, 503},
    {521, 528, 539, 549, 557, 575, 580, 593, 601, 611, 621, 629},
};
constexpr int TopCLeft = 647;

constexpr const char *SemitoneNames[12] = {"C", "CS", "D", "DS", "E", "F", "FS", "G", "GS", "A", "AS", "B"};
constexpr int WhiteSemitones[7] = {0, 2, 4, 5, 7, 9, 11};
// Later widgets lie above earlier ones; the designed creation order of the
// black keys differs between the first octave and the others.
constexpr int FirstOctaveBlacks[5] = {1, 3, 6, 8, 10};
constexpr int OtherOctaveBlacks[5] = {10, 8, 6, 3, 1};

bool isBlackSemitone(int semitone)
{
    return semitone == 1 || semitone == 3 || semitone == 6 || semitone == 8 || semitone == 10;
}

QString keyName(int octave, int semitone)
{
    return QStringLiteral("ImgKey%1%2").arg(octave).arg(QLatin1String(SemitoneNames[semitone]));
}

// What a screen reader says for a key: scientific pitch with MIDI 60 as
// "C4", and sharps written with the ASCII "#" ("C#4"), which every speech
// engine and braille table has, unlike the music sign.
QString spokenNoteName(int note)
{
    constexpr const char *Letters[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QLatin1String(Letters[note % 12]) + QString::number(note / 12 - 1);
}

} // namespace

void TKeyboard::createKeys()
{
    auto create = [&](int octave, int semitone, int left) {
        const bool black = isBlackSemitone(semitone);
        auto *key = new ImageControl(this, keyName(octave, semitone),
                                     QRect(left, KeyTop, KeyWidth, black ? BlackKeyHeight : WhiteKeyHeight));
        if (black)
            key->setFormPicture(QStringLiteral("TKeyboard.BlackKey"));
        else
            key->loadBitmap(QStringLiteral("WHITEKEY_UP"));
        key->setPointerShape(Qt::PointingHandCursor);
        const int note = 36 + 12 * (octave - 1) + semitone;
        key->setAccessibleName(spokenNoteName(note));
        key->setAccessibleDescription(black ? QString::fromUtf8("黑键") : QString::fromUtf8("白键"));
        keys_[note - FirstNote] = key;
    };
    for (int octave = 1; octave <= 5; ++octave) {
        for (int semitone : WhiteSemitones)
            create(octave, semitone, KeyLeft[octave - 1][semitone]);
        for (int semitone : (octave == 1 ? FirstOctaveBlacks : OtherOctaveBlacks))
            create(octave, semitone, KeyLeft[octave - 1][semitone]);
    }
    create(6, 0, TopCLeft);
}

void TKeyboard::buildKeyTable()
{
    KeyImages[0] = nullptr;
    for (int note = FirstNote; note <= LastNote; ++note)
        KeyImages[note] = keys_[note - FirstNote];
}

std::uint8_t TKeyboard::GetNote(const QWidget *widget) const
{
    // Slot 0 is never examined, so the held key has its own note, and an
    // empty reference matches no key.
    for (int note = FirstNote; note <= LastNote; ++note) {
        if (widget && KeyImages[note] == widget)
            return static_cast<std::uint8_t>(note);
    }
    return 0;
}

bool TKeyboard::IsBlackKey(const QWidget *widget) const
{
    // Walk the black notes from the A sharp below the keyboard: A# to C#, D#,
    // F#, G# and back to A#.
    constexpr int Steps[5] = {3, 2, 3, 2, 2};
    int note = 22;
    for (int step = 0;; step = (step + 1) % 5) {
        if (note >= FirstNote && widget && KeyImages[note] == widget)
            return true;
        note += Steps[step];
        if (note >= LastNote)
            return false;
    }
}

ImageControl *TKeyboard::keyOfNote(int note) const
{
    if (note < FirstNote || note > LastNote)
        return nullptr;
    return KeyImages[note];
}

void TKeyboard::showKeyDown(ImageControl *key)
{
    key->loadBitmap(IsBlackKey(key) ? QStringLiteral("BLACKKEY_DOWN") : QStringLiteral("WHITEKEY_DOWN"));
}

void TKeyboard::showKeyUp(ImageControl *key)
{
    key->loadBitmap(IsBlackKey(key) ? QStringLiteral("BLACKKEY_UP") : QStringLiteral("WHITEKEY_UP"));
}

} // namespace tastavia::keyboard
