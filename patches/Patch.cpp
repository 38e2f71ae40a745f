#include "Patch.h"

#include "PatchState.h"

#include <device/PianoHeader.h>
#include <skin/ImageSwitch.h>
#include <skin/Skin.h>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>

namespace tastavia::patches {

namespace {

constexpr QSize DesignedSize(310, 321);
// The Windows colour of an active caption's gradient, which the family list
// was designed against.
const QColor FamilyListColour(185, 209, 234);
const QColor InstrumentListColour(166, 202, 240);
const QColor ListTextColour(0, 0, 255);
constexpr int FamilyItemHeight = 15;

QFont listFont()
{
    QFont font(QString::fromUtf8("华文细黑"));
    font.setPixelSize(14);
    return font;
}

// The family list draws its own fixed 15-pixel items: the text on one line,
// vertically centred, 2 pixels from the left edge.
class FamilyItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return {option.rect.width(), FamilyItemHeight};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette &palette = option.palette;
        painter->fillRect(option.rect, selected ? palette.color(QPalette::Highlight) : FamilyListColour);
        painter->setFont(listFont());
        painter->setPen(selected ? palette.color(QPalette::HighlightedText) : ListTextColour);
        painter->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data().toString());
        if (option.state & QStyle::State_HasFocus) {
            painter->setPen(QPen(palette.color(QPalette::Text), 1, Qt::DotLine));
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
    }
};

QListWidget *makeList(QWidget *parent, const char *name, const QRect &place, const QColor &background)
{
    auto *list = new QListWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setGeometry(place);
    list->setFont(listFont());
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setStyleSheet(QStringLiteral("QListWidget { background: %1; color: %2; border: none; }")
                            .arg(background.name(), ListTextColour.name()));
    return list;
}

} // namespace

bool sendProgramWord(device::ProgramWord word)
{
    return KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, word, 0));
}

TPatchSelect::TPatchSelect(PatchBarView *patchBar)
    : SkinWindow(QString::fromUtf8("选择音色"), DesignedSize), patchBar_(patchBar)
{
    background()->setObjectName(QStringLiteral("PatchBackground"));
    background()->setFormPicture(QStringLiteral("TPatchSelect.PatchBackground"));
    setColourKey(true);
    createLists();
    createButtons();
}

void TPatchSelect::createLists()
{
    PatchTypes_ = makeList(this, "PatchTypes", QRect(21, 23, 150, 250), FamilyListColour);
    PatchTypes_->setItemDelegate(new FamilyItemDelegate(PatchTypes_));
    PatchTypes_->setUniformItemSizes(true);
    PatchStyles_ = makeList(this, "PatchStyles", QRect(181, 23, 115, 150), InstrumentListColour);
    PatchTypes_->setAccessibleName(QString::fromUtf8("乐器类别"));
    PatchStyles_->setAccessibleName(QString::fromUtf8("乐器"));
    setTabOrder(PatchTypes_, PatchStyles_);

    connect(PatchTypes_, &QListWidget::currentRowChanged, this, [this] { PatchTypesClick(); });
    connect(PatchStyles_, &QListWidget::currentRowChanged, this, [this] { PatchStylesClick(); });
    // A double-click anywhere in a list counts, also below its last item;
    // Qt's itemDoubleClicked only reports one on an item.
    for (QListWidget *list : {PatchTypes_, PatchStyles_}) {
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
    }
    // For Escape, which a window without key handlers of its own would drop.
    installEventFilter(this);
}

void TPatchSelect::createButtons()
{
    struct Layout {
        const char *name;
        const char *picture;
        const char *spoken; // the caption drawn on the picture
        int top;
        skin::SwitchHandler<TPatchSelect> down, up;
    };
    const Layout buttons[] = {
        {"ImgOk", "PATCHOK", "确定", 188, &TPatchSelect::ImgOkMouseDown, &TPatchSelect::ImgOkMouseUp},
        {"ImgCancle", "PATCHCANCLE", "取消", 218, &TPatchSelect::ImgCancleMouseDown, &TPatchSelect::ImgCancleMouseUp},
        {"ImgApply", "PATCHAPPLY", "应用", 249, &TPatchSelect::ImgApplyMouseDown, &TPatchSelect::ImgApplyMouseUp},
    };
    for (const Layout &b : buttons) {
        auto *button = new skin::ImageControl(this, QLatin1String(b.name), QRect(219, b.top, 66, 25));
        button->loadBitmap(QLatin1String(b.picture) + QStringLiteral("_UP"));
        button->setAccessibleName(QString::fromUtf8(b.spoken));
        skin::bindSwitch(button, this, b.down, b.up);
    }
}

skin::ImageControl *TPatchSelect::control(const QString &name) const
{
    return findChild<skin::ImageControl *>(name, Qt::FindDirectChildrenOnly);
}

void TPatchSelect::FormCreate()
{
    for (int f = 1; f <= 16; ++f)
        PatchTypes_->addItem(QString::fromUtf8(device::FamilyNames[static_cast<std::size_t>(f)]));
    if (!IsNT5) {
        setColourKey(false);
        loadBackground(QStringLiteral("PATCHBACKGROUND_WINDOWS"));
    }
}

void TPatchSelect::FormShow()
{
    // The program's own selecting must not count as the user's clicks.
    const QSignalBlocker blockFamilies(PatchTypes_);
    const QSignalBlocker blockInstruments(PatchStyles_);
    PatchStyles_->clear();
    ChosenFamily = CurrentPatch;
    ChosenMessage = QuickPatches[static_cast<std::size_t>(CurrentPatch)];
    PatchTypes_->setCurrentRow(CurrentPatch - 1);
    DisplayPatchStyles();
    PatchStyles_->setCurrentRow(device::positionInFamily(device::programOfWord(ChosenMessage)));
    placeBesideKeyboard();
}

void TPatchSelect::placeBesideKeyboard()
{
    if (!patchBar_)
        return;
    const QRect k = patchBar_->keyboardGeometry();
    if (IsNT5) {
        // Above the keyboard's right end; its lowest 29 rows lie under the
        // keyboard, which is raised after the show.
        move(k.left() + k.width() - 199, k.top() - height() + 29);
        return;
    }
    const int left = k.left() + k.width() / 2 - width() / 2;
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int screenHeight = screen ? screen->geometry().height() : 0;
    if (screenHeight / 2 - k.height() / 2 < k.top())
        move(left, k.top() - height() - 5);
    else
        move(left, k.top() + k.height() + 5);
}

int TPatchSelect::selectedFamilyIndex() const
{
    return std::max(0, PatchTypes_->currentRow());
}

void TPatchSelect::DisplayPatchStyles()
{
    const int first = 8 * selectedFamilyIndex();
    for (int i = 0; i < 8; ++i)
        PatchStyles_->addItem(QString::fromUtf8(device::PatchNames[static_cast<std::size_t>(first + i)]));
}

void TPatchSelect::PatchTypesClick()
{
    ChosenFamily = selectedFamilyIndex() + 1;
    {
        const QSignalBlocker block(PatchStyles_);
        PatchStyles_->clear();
        DisplayPatchStyles();
        PatchStyles_->setCurrentRow(0);
    }
    ChosenMessage = device::wordOfProgram(8 * selectedFamilyIndex());
}

void TPatchSelect::PatchStylesClick()
{
    const int instrument = std::max(0, PatchStyles_->currentRow());
    ChosenMessage = device::wordOfProgram(8 * selectedFamilyIndex() + instrument);
}

void TPatchSelect::PatchTypesDblClick()
{
    PatchTypesClick();
    ImgOkMouseUp(Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
}

void TPatchSelect::PatchStylesDblClick()
{
    PatchStylesClick();
    ImgOkMouseUp(Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
}

bool TPatchSelect::eventFilter(QObject *watched, QEvent *event)
{
    // The window is shown without the focus; a click into a list gives it
    // the focus its arrow keys and Enter need.
    if (event->type() == QEvent::MouseButtonPress
        && (watched == PatchTypes_->viewport() || watched == PatchStyles_->viewport()))
        takeFocus();
    if (event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // The first click of the pair has already made the selection; the
        // list's own handling of the second would come after OK hid it.
        if (watched == PatchTypes_->viewport()) {
            PatchTypesDblClick();
            return true;
        }
        if (watched == PatchStyles_->viewport()) {
            PatchStylesDblClick();
            return true;
        }
    }
    // Escape is the window's Cancel. The lists leave it alone, so it comes
    // here from them too.
    if (watched == this && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        cancelAction();
        return true;
    }
    if (event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // A held Enter repeats as release-press pairs; only the real release
        // of the key acts.
        if (!key->isAutoRepeat() && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (watched == PatchTypes_)
                PatchTypesDblClick();
            else if (watched == PatchStyles_)
                PatchStylesDblClick();
        }
    }
    return SkinWindow::eventFilter(watched, event);
}

void TPatchSelect::ImgOkMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    skin::switchPress(control(QStringLiteral("ImgOk")), QStringLiteral("PATCHOK"), button);
}

void TPatchSelect::ImgOkMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (skin::switchRelease(control(QStringLiteral("ImgOk")), QStringLiteral("PATCHOK"), button, pos))
        okAction();
}

void TPatchSelect::ImgCancleMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    skin::switchPress(control(QStringLiteral("ImgCancle")), QStringLiteral("PATCHCANCLE"), button);
}

void TPatchSelect::ImgCancleMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (skin::switchRelease(control(QStringLiteral("ImgCancle")), QStringLiteral("PATCHCANCLE"), button, pos))
        cancelAction();
}

void TPatchSelect::ImgApplyMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    skin::switchPress(control(QStringLiteral("ImgApply")), QStringLiteral("PATCHAPPLY"), button);
}

void TPatchSelect::ImgApplyMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (!skin::switchRelease(control(QStringLiteral("ImgApply")), QStringLiteral("PATCHAPPLY"), button, pos))
        return;
    if (sendProgramWord(ChosenMessage) && patchBar_)
        patchBar_->ChangeShowPatch(ChosenMessage);
}

void TPatchSelect::okAction()
{
    if (patchBar_) {
        patchBar_->hoverReset();
        if (ChosenFamily != CurrentPatch) {
            patchBar_->CoverPatchImg(CurrentPatch, false);
            CurrentPatch = ChosenFamily;
            patchBar_->setHoverPatch(CurrentPatch);
            patchBar_->CoverPatchImg(CurrentPatch, true);
        }
    }
    auto &slot = QuickPatches[static_cast<std::size_t>(CurrentPatch)];
    if (slot != ChosenMessage) {
        // A device that refuses the new instrument gets the slot's own back,
        // and nothing is committed: the slot keeps what it can play.
        if (!sendProgramWord(ChosenMessage)) {
            cancelAction();
            return;
        }
        slot = ChosenMessage;
    }
    if (patchBar_) {
        patchBar_->setPatchHint(CurrentPatch, device::nameOfWord(slot));
        patchBar_->ChangeShowPatch(slot);
    }
    sendProgramWord(slot);
    hide();
}

void TPatchSelect::cancelAction()
{
    const device::ProgramWord slot = QuickPatches[static_cast<std::size_t>(CurrentPatch)];
    if (patchBar_)
        patchBar_->ChangeShowPatch(slot);
    sendProgramWord(slot);
    hide();
}

void TPatchSelect::FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPoint pos)
{
    if (buttons & Qt::LeftButton)
        startDrag(pos);
}

void TPatchSelect::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
}

} // namespace tastavia::patches
