#pragma once

#include <device/PianoHeader.h>
#include <patches/Patch.h>
#include <patches/PatchBarView.h>
#include <skin/SkinWindow.h>

#include <QEvent>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QSet>

#include <array>
#include <bitset>
#include <memory>
#include <mutex>
#include <cstdint>

namespace tastavia::media {
class ClipPlayer;
enum class Notice;
} // namespace tastavia::media

namespace tastavia::desktop {
class WindowSight;
} // namespace tastavia::desktop

namespace tastavia::keyboard {

using skin::ImageControl;

// A window message posted by the device library, carried to the GUI thread.
class DeviceMessageEvent : public QEvent
{
public:
    static QEvent::Type eventType();
    DeviceMessageEvent(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
        : QEvent(eventType()), message(message), wParam(wParam), lParam(lParam)
    {
    }
    const std::uint32_t message;
    const std::uint32_t wParam;
    const std::uint32_t lParam;
};

// The Windows virtual-key code of a key event, by the key's US position
// where the platform reports it; 0 for keys the program gives no meaning.
std::uint16_t virtualKeyOf(const QKeyEvent &event);

// The keyboard window: the main window of the program. It owns the 61 keys,
// the patch bar, the command switches and the advert strip.
class TKeyboard : public skin::SkinWindow, public patches::PatchBarView
{
    Q_OBJECT
public:
    static constexpr int FirstNote = 36;
    static constexpr int LastNote = 96;

    TKeyboard();
    ~TKeyboard() override;

    // The window's set-up, run once right after construction. A quit request
    // made here takes effect when the event loop starts.
    void FormCreate();
    // Closes an open help viewer and disconnects the device; runs once.
    void FormDestroy();

    // Key table
    std::uint8_t GetNote(const QWidget *widget) const;
    bool IsBlackKey(const QWidget *widget) const;
    ImageControl *keyOfNote(int note) const;
    ImageControl *HeldKey() const { return KeyImages[0]; }
    const std::array<ImageControl *, 128> &keyImages() const { return KeyImages; }
    void showKeyDown(ImageControl *key);
    void showKeyUp(ImageControl *key);

    // Command switches and patch bar
    ImageControl *control(const QString &name) const;
    QLabel *ShowPatch() const { return ShowPatch_; }
    QWidget *Ad() const { return Ad_; }
    const std::array<ImageControl *, 17> &PatchImages() const { return PatchImages_; }

    // The handle given to ConnectDevice; posting through it is thread-safe.
    KorvaWindow *deviceHandle() { return &deviceHandle_; }
    // What the handle posts: any thread. Device messages waiting for the
    // window; never more than the bound.
    void queueDeviceMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
    int queuedDeviceMessages() const;
    static constexpr int MaxQueuedDeviceMessages = 4096;

    // Mouse playing: the three key handlers serve all 61 keys.
    void ImgKeyMouseDown(ImageControl *key, Qt::MouseButton button);
    void ImgKeyMouseUp(ImageControl *key, Qt::MouseButton button);
    void ImgKeyMouseMove(ImageControl *key, Qt::MouseButtons buttons);

    // Command switches
    void CloseMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void CloseMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgMinimizeMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgMinimizeMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgHelpMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgHelpMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgStaffMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgStaffMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgLogoMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);

    // The maker's web site; help, scores and home page are formed from it.
    static const QString SiteAddress;

    // The advert strip's player and its completion handler.
    media::ClipPlayer *advert() const { return advert_.get(); }
    void AdNotify(media::Notice notice);

    // Device reports
    void HitKey(std::uint32_t wParam);
    void ErrorProcess(std::uint32_t lParam);
    void MidiStopMsg();

    // Loads the DOWN or UP picture of the select-patch image (0) or of
    // quick-patch image 1..16; other numbers do nothing.
    void CoverPatchImg(int number, bool down) override;
    // Shows an instrument's name in the label, on two lines when long.
    void ChangeShowPatch(device::ProgramWord word) override;
    void hoverReset() override;
    void setHoverPatch(int number) override { HoverPatch = number; }
    void setPatchHint(int number, const QString &hint) override;
    QRect keyboardGeometry() const override { return frameGeometry(); }

    void ImgPatchMouseDown(ImageControl *sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgPatchMouseUp(ImageControl *sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgSelectPatchMouseMove(Qt::KeyboardModifiers shift, QPoint pos);
    void ImgSelectPatchMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    // The selection window that the select-patch image shows and closes.
    void setPatchSelect(patches::TPatchSelect *patchSelect) { patchSelect_ = patchSelect; }

    // Computer-keyboard playing, by Windows virtual-key code.
    void FormKeyDown(std::uint16_t key, Qt::KeyboardModifiers shift);
    void FormKeyUp(std::uint16_t key, Qt::KeyboardModifiers shift);

    int HoverPatch = 1;
    bool SelectPatchLit = false;
    bool ShowPatchShifted = false;

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pos) override;
    void FormMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos) override;

private:
    void createKeys();
    void createPatchBar();
    void createCommandSwitches();
    void buildKeyTable();
    void setUpAdvertStrip(const QString &clipPath);
    void dispatchDeviceMessage(const DeviceMessageEvent &message);
    void catchUp();
    void bindKeyHandlers(ImageControl *key);
    void bindCommandSwitches();
    bool sendShortMessage(std::uint32_t message);
    bool insideAdvertArea(QPoint pos) const;
    bool inDragZone(QPoint pos) const;
    void bindPatchBar();
    bool releaseNotesOfTheMouse();
    void releaseLeftoverNotes();
    void releaseComputerKeys();
    void releaseComputerKeysLetGoElsewhere();
    void releaseMouseHeldKey();
    bool heldByComputerKey(int note) const;
    void minimiseProgram();
    void hideOtherWindows();
    void showOtherWindows();

    // Slots 36..96 hold the key of that note; slot 0 is the held key.
    std::array<ImageControl *, 128> KeyImages{};
    std::array<ImageControl *, 61> keys_{};
    std::array<ImageControl *, 17> PatchImages_{};
    QLabel *ShowPatch_ = nullptr;
    QWidget *Ad_ = nullptr;
    QString clipPath_;
    std::unique_ptr<media::ClipPlayer> advert_;
    // Rests the strip while nobody can see the window.
    desktop::WindowSight *sight_ = nullptr;
    patches::TPatchSelect *patchSelect_ = nullptr;
    QSet<std::uint32_t> openErrorBoxes_;
    // Device messages behind the window; shared with the device's threads.
    mutable std::mutex behindMutex_;
    int queuedDeviceMessages_ = 0;
    bool catchUpPosted_ = false;
    std::array<std::uint32_t, 128> latestNotes_{};
    std::bitset<128> notesBehind_;
    std::bitset<2> reportsBehind_;
    bool stopBehind_ = false;
    // Notes whose note on the device took and that no note off has ended
    // since: what the program itself has left sounding.
    std::bitset<128> sounding_;
    // Note keys of the computer keyboard that are down: virtual-key code to
    // the X11 key code that pressed it (0 where the platform gives none).
    QHash<std::uint16_t, quint32> computerKeysDown_;
    KorvaWindow deviceHandle_{};
    bool destroyed_ = false;
    // The program's windows that were hidden with the minimised keyboard.
    QList<QPointer<QWidget>> hiddenWithMinimise_;
};

} // namespace tastavia::keyboard
