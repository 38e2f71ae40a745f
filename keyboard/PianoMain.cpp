// The keyboard window's layout, set-up, shutdown and device message dispatch.
#include "PianoMain.h"

#include <device/Instruments.h>
#include <patches/PatchState.h>
#include <platform/desktop/Desktop.h>
#include <platform/media/ClipPlayer.h>
#include <resources/Resources.h>
#include <skin/Skin.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <utility>

namespace tastavia::keyboard {

namespace {

constexpr QSize WindowSize(714, 192);
constexpr QRect AdDesigned(152, 2, 29, 28);

// What the program's exit status says after a start-up that could not
// complete; the screen stays silent, the status and one line on standard
// error do not.
constexpr int StartFailed = 1;

void requestQuit(int status = 0)
{
    // Queued, so that a request made while the windows are still being built
    // takes effect only once the event loop runs. Not quit(): that first asks
    // every window to close, and the windows that only hide would refuse.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
}

void postFromDevice(void *context, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
{
    // Called on the device library's own threads: only queue the message.
    static_cast<TKeyboard *>(context)->queueDeviceMessage(message, wParam, lParam);
}

// Device message number of the event that catches up with what came in
// while the window was behind; the library never sends it.
constexpr std::uint32_t CatchUpMessage = 0;

struct SwitchLayout {
    const char *name;
    QRect place;
    const char *picture;
    const char *hint;
    Qt::CursorShape pointer;
};

const SwitchLayout CommandSwitches[] = {
    {"ImgClose", {23, 12, 18, 18}, "CLOSE_UP", "关闭", Qt::ArrowCursor},
    {"ImgMinimize", {42, 12, 18, 18}, "MINIMIZE_UP", "最小化", Qt::ArrowCursor},
    {"ImgHelp", {61, 11, 18, 18}, "HELP_UP", "帮助", Qt::ArrowCursor},
    {"ImgStaff", {84, 11, 18, 18}, "STAFF_UP", "乐谱", Qt::ArrowCursor},
    {"ImgLogo", {29, 43, 31, 37}, nullptr, "访问Olvani", Qt::PointingHandCursor},
    {"ImgSelectPatch", {645, 37, 52, 52}, "SELECTPATCH_UP", "选择音色", Qt::PointingHandCursor},
};

} // namespace

QEvent::Type DeviceMessageEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

TKeyboard::TKeyboard() : SkinWindow(QStringLiteral("Tastavia"), WindowSize)
{
    background()->setFormPicture(QStringLiteral("TKeyboard.ImgBkg"));
    setColourKey(true);
    setWindowIcon(resources::applicationIcon());

    Ad_ = new QWidget(this);
    Ad_->setObjectName(QStringLiteral("Ad"));
    Ad_->setGeometry(AdDesigned);
    makePassive(Ad_);

    createCommandSwitches();
    createPatchBar();
    createKeys();
    for (ImageControl *key : keys_)
        bindKeyHandlers(key);
    bindCommandSwitches();
    bindPatchBar();
    setFocusPolicy(Qt::StrongFocus);

    advert_ = std::make_unique<media::ClipPlayer>();
    connect(advert_.get(), &media::ClipPlayer::completed, this, &TKeyboard::AdNotify, Qt::QueuedConnection);

    deviceHandle_.context = this;
    deviceHandle_.post = &postFromDevice;
    centreOnScreen();
}

TKeyboard::~TKeyboard()
{
    FormDestroy();
    // The strip's media device is closed after the window's own shutdown;
    // endings it still owes have nowhere to go.
    advert_->disconnect(this);
    advert_.reset();
}

void TKeyboard::createCommandSwitches()
{
    for (const SwitchLayout &layout : CommandSwitches) {
        auto *control = new ImageControl(this, QLatin1String(layout.name), layout.place);
        if (layout.picture)
            control->loadBitmap(QLatin1String(layout.picture));
        else
            control->setFormPicture(QStringLiteral("TKeyboard.ImgLogo"));
        control->setHint(QString::fromUtf8(layout.hint));
        control->setPointerShape(layout.pointer);
    }
}

void TKeyboard::createPatchBar()
{
    ShowPatch_ = new QLabel(QString::fromUtf8("三角钢琴"), this);
    ShowPatch_->setObjectName(QStringLiteral("ShowPatch"));
    QFont font(QString::fromUtf8("华文中宋"));
    font.setPixelSize(13);
    ShowPatch_->setFont(font);
    ShowPatch_->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    ShowPatch_->move(87, 55);
    ShowPatch_->adjustSize();
    makeRouted(ShowPatch_);

    for (int k = 1; k <= 16; ++k) {
        auto *image = new ImageControl(this, QStringLiteral("ImgPatch%1").arg(k), QRect(179 + 28 * (k - 1), 49, 28, 28));
        image->loadBitmap(QStringLiteral("PATCH%1_%2").arg(k, 2, 10, QLatin1Char('0')).arg(k == 1 ? "DOWN" : "UP"));
        image->setPointerShape(Qt::PointingHandCursor);
        image->setHint(device::nameOfWord(device::wordOfProgram(device::firstProgramOfFamily(k))));
        PatchImages_[k] = image;
    }
}

ImageControl *TKeyboard::control(const QString &name) const
{
    return findChild<ImageControl *>(name, Qt::FindDirectChildrenOnly);
}

void TKeyboard::FormCreate()
{
    const QString clipPath = QDir::currentPath() + QStringLiteral("/Ad/ad01.avi");
    // Only a file counts: a directory in its place is as good as no clip.
    if (!QFileInfo(clipPath).isFile()) {
        std::fprintf(stderr,
                     "tastavia: no advert clip at %s; start Tastavia from the folder that holds Ad/ad01.avi "
                     "(an installed copy keeps it in share/tastavia, and its menu entry starts there)\n",
                     qPrintable(QDir::toNativeSeparators(clipPath)));
        requestQuit(StartFailed);
        return;
    }
    setUpAdvertStrip(clipPath);
    buildKeyTable();

    patches::CurrentPatch = 1;
    HoverPatch = patches::CurrentPatch;
    SelectPatchLit = false;
    ShowPatchShifted = false;

    if (!IsNT5)
        loadBackground(QStringLiteral("BACKGROUND_WINDOWS"));

    // The device library says on standard error what it is missing.
    if (!KorvaTrue(ConnectDevice(deviceHandle())))
        requestQuit(StartFailed);
    SetMasterKeyVolume(127);
    SetSlaveKeyVolume(127);
}

void TKeyboard::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    if (auto help = desktop::findTopLevelWindow("PravikHelp"))
        desktop::closeWindow(*help);
    DisConnectDevice();
}

void TKeyboard::closeEvent(QCloseEvent *event)
{
    // The keyboard window is the main window: closing it ends the program.
    event->accept();
    requestQuit();
}

bool TKeyboard::event(QEvent *event)
{
    if (event->type() == DeviceMessageEvent::eventType()) {
        dispatchDeviceMessage(*static_cast<DeviceMessageEvent *>(event));
        return true;
    }
    if (event->type() == QEvent::WindowBlocked)
        releaseMouseHeldKey();
    return SkinWindow::event(event);
}

// A window that is behind (busy, or its display stopped) must not let an
// incoming storm grow its queue without end. Past a bound, a note's latest
// state and one report of each kind are kept instead, and one event catches
// up with them; until it has, later messages join them, so that nothing
// older is shown after something newer.
void TKeyboard::queueDeviceMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
{
    // Only the library's own messages mean anything to the window. Anything
    // else, the catch-up's own number among them, is dropped here rather
    // than counted as waiting.
    if (message != KORVA_MSG_HITKEY && message != KORVA_MSG_ERROR && message != KORVA_MSG_MIDISTOP)
        return;
    std::lock_guard lock(behindMutex_);
    if (!catchUpPosted_ && queuedDeviceMessages_ < MaxQueuedDeviceMessages) {
        ++queuedDeviceMessages_;
        QCoreApplication::postEvent(this, new DeviceMessageEvent(message, wParam, lParam));
        return;
    }
    if (message == KORVA_MSG_HITKEY) {
        // Only a message that shows on a key stands for the key's state: a
        // pedal is controller 64, and must not take the place of note 64.
        const std::uint32_t status = wParam & 0xFF;
        const std::size_t note = (wParam >> 8) & 0xFF;
        if ((status == 0x80 || status == 0x90) && note < latestNotes_.size()) {
            latestNotes_[note] = wParam;
            notesBehind_.set(note);
        }
    } else if (message == KORVA_MSG_ERROR && lParam < reportsBehind_.size()) {
        reportsBehind_.set(lParam);
    } else if (message == KORVA_MSG_MIDISTOP) {
        stopBehind_ = true;
    }
    if (!catchUpPosted_) {
        catchUpPosted_ = true;
        QCoreApplication::postEvent(this, new DeviceMessageEvent(CatchUpMessage, 0, 0));
    }
}

int TKeyboard::queuedDeviceMessages() const
{
    std::lock_guard lock(behindMutex_);
    return queuedDeviceMessages_;
}

void TKeyboard::catchUp()
{
    std::array<std::uint32_t, 128> notes{};
    std::bitset<128> behind;
    std::bitset<2> reports;
    bool stop = false;
    {
        std::lock_guard lock(behindMutex_);
        notes = latestNotes_;
        behind = std::exchange(notesBehind_, {});
        reports = std::exchange(reportsBehind_, {});
        stop = std::exchange(stopBehind_, false);
        catchUpPosted_ = false;
    }
    for (std::size_t note = 0; note < notes.size(); ++note)
        if (behind.test(note))
            HitKey(notes[note]);
    if (stop)
        MidiStopMsg();
    for (std::uint32_t code = 0; code < reports.size(); ++code)
        if (reports.test(code))
            ErrorProcess(code);
}

void TKeyboard::dispatchDeviceMessage(const DeviceMessageEvent &message)
{
    if (message.message == CatchUpMessage) {
        catchUp();
        return;
    }
    {
        std::lock_guard lock(behindMutex_);
        --queuedDeviceMessages_;
    }
    switch (message.message) {
    case KORVA_MSG_HITKEY:
        HitKey(message.wParam);
        break;
    case KORVA_MSG_ERROR:
        ErrorProcess(message.lParam);
        break;
    case KORVA_MSG_MIDISTOP:
        MidiStopMsg();
        break;
    default:
        break;
    }
}

} // namespace tastavia::keyboard
