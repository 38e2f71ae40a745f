// The clip player behind the advert strip. It stands in for the parts of
// the Windows media control interface that the strip uses: open a file and
// wait until its first picture is ready, draw into a widget, play to the
// end without waiting and report how each play request ended, rewind and
// close, and give the text for an error code.
//
// Everything happens on the thread that owns the player (the GUI thread):
// pictures are decoded one ahead and shown by a precise timer at the
// clip's own rate, so there are no locks. A small clip is decoded only
// once: after its first full pass its pictures are replayed from memory,
// and on X11 from the X server itself (ServerFrames).
#pragma once

#include "ClipDecoder.h"
#include "ServerFrames.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <vector>

namespace tastavia::media {

Q_NAMESPACE

// How a play request ended. The values are the Windows notification codes.
enum class Notice {
    Successful = 1, // played to the end of the clip
    Superseded = 2, // another play request took over
    Aborted = 4,    // a rewind, close, new open or the player's end stopped it
    Failure = 8,    // the clip turned out damaged while playing
};
Q_ENUM_NS(Notice)

class ClipPlayer : public QObject {
    Q_OBJECT

public:
    // Codes returned by open(), play() and seekToStart(); 0 is success.
    enum Error : int {
        NoError = 0,
        NotOpen,         // no clip is open
        FileNotFound,
        FileUnreadable,  // a directory, or no permission to read
        NotAClip,        // empty, text, or no container format known here
        NoPicture,       // a container with no picture stream (sound only)
        NoDecoder,       // a picture format this system cannot decode
        DamagedClip,     // truncated or corrupt before the first picture
        RewindFailed,    // the first picture cannot be found again
        OutOfMemory,
        PictureTooLarge, // larger than full HD: no advert for a small strip
    };

    explicit ClipPlayer(QObject *parent = nullptr);

    // Draws a picture into an area as the display shows it: unscaled where
    // it fits to the pixel, smoothly scaled otherwise.
    static void paintPicture(QPainter &painter, const QRect &area, const QImage &picture);
    // Closes, which aborts a running play request. Notices still owed are
    // emitted directly from here, because nothing can be queued for an
    // object that is going away; open() and play() refuse during that.
    // A receiver that dies first must take its connection with it (give
    // the connection a context object, or make the player its child).
    ~ClipPlayer() override;

    // Opens the clip and returns once its first picture is decoded and
    // shown. Any clip already open is closed first. The container and
    // decoder are chosen from the file's contents, not from its name.
    int open(const QString &path);
    bool isOpen() const;

    // Paints every picture into the widget, scaled to fit when the sizes
    // differ. The player only watches the widget's paint events; it adds
    // no child and changes none of its attributes, so pointer events reach
    // whatever they reached before. The widget stays in use across close
    // and open; nullptr stops drawing.
    void setDisplay(QWidget *target);

    // Plays from the current picture to the end and returns at once. A
    // play request that finds the clip at its end first rewinds. With
    // notify, exactly one completed() follows for this request. Refused at
    // once with an error code and no notice when no clip is open or the
    // rewind fails.
    int play(bool notify);

    // Stops playing (the running request is Aborted), goes back to the
    // first picture and shows it before returning.
    int seekToStart();

    // Stops playing (Aborted) and releases the clip. The display keeps no
    // picture.
    void close();

    // Whether anyone can see the display (its window mapped, not minimised
    // and not wholly covered). While nobody can, a playing clip rests: no
    // picture is shown and its clock does not run, so nothing wakes the
    // thread. Seen again, it shows its picture and goes on from there.
    void setDisplaySeen(bool seen);
    // Paints the picture on show again, after the display's window was
    // exposed: pictures shown from the server bypass the toolkit, whose
    // copy of the display may be older.
    void refreshDisplay();

    // The text for an error code, or an empty string for a code that is
    // not one of ours (callers then show their own "unknown" text).
    static QString errorText(int code);

    // The picture on show: its index in the clip (0 is the first; -1 when
    // closed) and the picture itself.
    int frameIndex() const;
    QImage currentFrame() const;
    bool isPlaying() const { return playing_; }

signals:
    // Always delivered later from the event loop, never from inside play,
    // seekToStart, open or close.
    void completed(tastavia::media::Notice notice);
    // Each picture as it is put on show, for tests and benchmarks; not for
    // the pictures that a pass of the X server's pictures shows from its
    // own thread.
    void frameShown(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stopPlaying(Notice noticeForRequest);
    void finishPlaying(Notice noticeForRequest);
    int rewind();
    int showFirstPicture();
    void present(DecodedPicture &picture, int index);
    ClipDecoder::Step readPicture(DecodedPicture &out);
    void scheduleNext();
    void onTimer();
    void postNotice(Notice notice);
    void deliverNotice();
    void repaintDisplay();
    // Shows the picture on show; true when the server's copy showed it.
    bool showOnDisplay();
    bool showFromServer();
    // Takes the picture on show back from a pass on the server's thread,
    // stopping that pass when asked.
    void takeBackFromServer(bool halt);
    bool handOverToServer();
    void serverPassEnded();

    std::unique_ptr<ClipDecoder> decoder_;
    // The pictures of one whole pass, once it fits the budget; from then on
    // they come from here and the decoder rests.
    std::vector<DecodedPicture> held_;
    qint64 heldBytes_ = 0;
    bool holding_ = true;
    bool heldComplete_ = false;
    size_t readPos_ = 0;       // index of the next picture to read
    DecodedPicture ahead_;     // decoded one ahead of the picture on show
    ClipDecoder::Step aheadStep_ = ClipDecoder::Step::End;
    bool aheadReady_ = false;
    QString path_;
    QPointer<QWidget> display_;
    QImage current_;
    qint64 currentTimeUs_ = 0;
    int frameIndex_ = -1;
    bool atEnd_ = false;
    bool playing_ = false;
    bool notify_ = false;
    bool closing_ = false;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 dueNs_ = 0;         // when the picture on show was due, on clock_
    std::deque<Notice> owed_;
    bool seen_ = true;
    std::unique_ptr<ServerFrames> serverFrames_;
    // Set once the server would not keep this clip's pictures.
    bool serverRefused_ = false;
    // A pass is showing the server's pictures on its own thread; the
    // picture on show is then the server's to say.
    bool serverPassRunning_ = false;
};

} // namespace tastavia::media
