// Encodes QImages into an AVI clip with FFmpeg's built-in encoders: Motion
// JPEG (the program's own format) or MPEG-4 Visual (for clips the program
// plays through its FFmpeg module). Output is bit-exact (no encoder version strings), so the same
// pictures always make the same file, and it is written through a
// QSaveFile: the target only changes when the whole clip is done.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace tastavia::clipwriter {

struct ClipFormat {
    enum class Codec { MotionJpeg, Mpeg4 };
    QSize size;             // even width and height
    int fps = 20;
    int quality = 3;        // quantiser, 1 (best) to 31
    int keyframeInterval = 0; // MPEG-4: pictures between key pictures; 0 means two seconds
    Codec codec = Codec::MotionJpeg;
};

class ClipWriter {
public:
    ClipWriter(const QString &path, const ClipFormat &format);
    // Drops an unfinished clip; the target file is left as it was.
    ~ClipWriter();
    ClipWriter(const ClipWriter &) = delete;
    ClipWriter &operator=(const ClipWriter &) = delete;

    bool begin();
    // Pictures are converted to the clip's size if they differ.
    bool addFrame(const QImage &frame);
    // Flushes the encoder, writes the index and replaces the target.
    bool finish();

    QString errorString() const { return error_; }
    int framesWritten() const { return frames_; }

private:
    struct Ffmpeg;
    bool fail(const QString &what, int averror = 0);
    bool drain(bool flushing);

    QString path_;
    ClipFormat format_;
    std::unique_ptr<Ffmpeg> ff_;
    QString error_;
    int frames_ = 0;
    bool started_ = false;
    bool finished_ = false;
};

// Writes a whole clip at once; returns an empty string or the error.
QString writeClip(const QString &path, const ClipFormat &format, const QList<QImage> &frames);

} // namespace tastavia::clipwriter
