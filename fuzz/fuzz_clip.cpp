// Damaged and hostile clips, each input a whole file, through the clip
// opener and then the player, as the advert strip uses them. Whatever the
// file holds: open answers one of the player's codes, a clip that opens has
// a size and a picture time within the limits, every picture has the
// clip's size and comes in presentation order, and after a rewind the first
// step gives again what it gave the first time, or fails. The player shows
// that same first picture on opening and after going back to the start,
// unless going back fails, and says so.
//
// The file is a memory file reached through /proc, so that no input ever
// touches the disk.
#include "Fuzzing.h"

#include <AviMjpeg.h>
#include <ClipDecoder.h>
#include <ClipPlayer.h>

#include <QCoreApplication>

#include <sys/mman.h>
#include <unistd.h>

#include <memory>

using tastavia::media::ClipDecoder;
using tastavia::media::ClipPlayer;
using tastavia::media::DecodedPicture;
namespace limits = tastavia::media::limits;

namespace {

// Enough to walk past the first key picture of any seed and into the
// damage; every one of them is checked, so more only costs time.
constexpr int kMaxSteps = 48;

struct Rig {
    int argc = 1;
    char name[8] = "fuzzing";
    char *argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    int fd = -1;
    QString path;

    Rig()
    {
        app = std::make_unique<QCoreApplication>(argc, argv);
        fd = memfd_create("clip", MFD_CLOEXEC);
        FUZZ_CHECK(fd >= 0, "no memory file");
        path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    }

    void write(const std::uint8_t *data, std::size_t size)
    {
        FUZZ_CHECK(ftruncate(fd, 0) == 0, "cannot empty the memory file");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
            FUZZ_CHECK(n > 0, "cannot fill the memory file");
            done += std::size_t(n);
        }
    }
};

Rig &rig()
{
    static Rig rig;
    return rig;
}

struct First {
    ClipDecoder::Step step = ClipDecoder::Step::End;
    DecodedPicture picture;
    bool builtIn = false;  // read by our own Motion JPEG reader, not FFmpeg
};

void checkPicture(const ClipDecoder &decoder, const DecodedPicture &p, qint64 previousUs)
{
    FUZZ_CHECK(p.image.format() == QImage::Format_RGB32, "picture format %d", int(p.image.format()));
    FUZZ_CHECK(p.image.size() == decoder.size(), "picture %dx%d in a %dx%d clip", p.image.width(),
               p.image.height(), decoder.size().width(), decoder.size().height());
    FUZZ_CHECK(p.timeUs >= 0 && p.timeUs <= limits::TimeLimitUs, "picture time %lld", (long long)p.timeUs);
    FUZZ_CHECK(p.timeUs >= previousUs, "picture at %lld after one at %lld", (long long)p.timeUs,
               (long long)previousUs);
}

// Reads the clip to its end (or as far as is worth it) and back.
void decode(const QString &path, First &first, int &openError)
{
    ClipDecoder::Opened opened = ClipDecoder::open(path);
    openError = opened.error;
    FUZZ_CHECK(opened.error >= ClipPlayer::NoError && opened.error <= ClipPlayer::PictureTooLarge,
               "open answered %d", opened.error);
    FUZZ_CHECK((opened.error == ClipPlayer::NoError) == (opened.decoder != nullptr), "open answered %d with%s a clip",
               opened.error, opened.decoder ? "" : "out");
    if (!opened.decoder)
        return;
    ClipDecoder &decoder = *opened.decoder;
    FUZZ_CHECK(limits::acceptedSize(decoder.size().width(), decoder.size().height()), "clip size %dx%d",
               decoder.size().width(), decoder.size().height());
    FUZZ_CHECK(decoder.nominalFrameUs() >= limits::MinFrameUs && decoder.nominalFrameUs() <= limits::MaxFrameUs,
               "picture time %lld", (long long)decoder.nominalFrameUs());

    qint64 previousUs = 0;
    for (int i = 0; i < kMaxSteps; ++i) {
        DecodedPicture p;
        const ClipDecoder::Step step = decoder.next(p);
        if (i == 0) {
            first.step = step;
            first.picture = p;
        }
        if (step != ClipDecoder::Step::Picture)
            break;
        checkPicture(decoder, p, previousUs);
        previousUs = p.timeUs;
    }

    if (!decoder.rewind())
        return;
    DecodedPicture again;
    const ClipDecoder::Step step = decoder.next(again);
    // Our own reader is exact. FFmpeg's decoders may treat damage, and
    // raw streams their start, differently after a seek than on a fresh
    // start; the player reports such a rewind as failed.
    FUZZ_CHECK(!first.builtIn || step == first.step, "first step %d, after a rewind %d", int(first.step), int(step));
    if (step == ClipDecoder::Step::Picture && first.builtIn) {
        FUZZ_CHECK(again.image == first.picture.image, "another first picture after a rewind");
        FUZZ_CHECK(again.timeUs == first.picture.timeUs, "first picture at %lld, after a rewind at %lld",
                   (long long)first.picture.timeUs, (long long)again.timeUs);
    }
}

void play(const QString &path, const First &first, int openError)
{
    ClipPlayer player;
    const int error = player.open(path);
    const bool opens = openError == ClipPlayer::NoError && first.step == ClipDecoder::Step::Picture;
    FUZZ_CHECK(opens == (error == ClipPlayer::NoError), "the player answered %d, the opener %d", error, openError);
    if (!opens) {
        FUZZ_CHECK(!player.isOpen(), "a clip that failed to open stays open");
        return;
    }
    FUZZ_CHECK(player.frameIndex() == 0 && (!first.builtIn || player.currentFrame() == first.picture.image),
               "the player opened on another picture");
    FUZZ_CHECK(player.play(false) == ClipPlayer::NoError, "play refused");
    QCoreApplication::processEvents();
    const int back = player.seekToStart();
    if (back == ClipPlayer::NoError)
        FUZZ_CHECK(player.frameIndex() == 0 && (!first.builtIn || player.currentFrame() == first.picture.image),
                   "back at the start on another picture");
    else
        FUZZ_CHECK(back == ClipPlayer::RewindFailed, "going back to the start answered %d", back);
    player.close();
    FUZZ_CHECK(!player.isOpen() && player.frameIndex() == -1, "still open after closing");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Rig &r = rig();
    r.write(data, size);
    First first;
    first.builtIn = !tastavia::media::AviMjpegSource::open(r.path).notMine;
    int openError = 0;
    decode(r.path, first, openError);
    play(r.path, first, openError);
    return 0;
}
