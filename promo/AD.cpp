#include "AD.h"

#include <skin/ImageSwitch.h>

#include <QCloseEvent>
#include <QKeyEvent>

namespace tastavia::promo {

namespace {

constexpr int VkUp = 0x26;
constexpr int VkDown = 0x28;
constexpr QPoint KeyPoint(1, 1);

// The eight lines the text box was designed with; they become page 0.
const char *const DesignedLines[] = {
    "想随时弹钢琴吗？",
    "想让电脑变乐器吗？",
    "Tastavia 电子琴",
    "学琴作曲好帮手，",
    "我们倾情推荐！",
    "销售热线：",
    "010-5555 0101",
    "021-5555 0202",
};

std::array<QString, 10> initialHeaders()
{
    const char *const headers[10] = {"Pravik", "五个八度键盘", "鼠标随手弹奏", "电脑键盘演奏", "内置合成音源",
                                     "百种乐器音色", "快捷音色切换", "外接电子琴", "即时无延迟", "免费乐谱资源"};
    std::array<QString, 10> result;
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = QString::fromUtf8(headers[i]);
    return result;
}

std::array<QString, 10> initialTexts()
{
    const char *const texts[10] = {
        "",
        "把电脑屏幕变成一架五个八度的钢琴，六十一个琴键整齐排列，黑白分明，低音到高音一目了然，初学者也能马上找到中央C。",
        "按下鼠标就能弹奏，按住滑过琴键便是一串流畅的刮奏，松开即止，每一个音符都清清楚楚，弹错了也不怕。",
        "三十六个电脑按键对应全部白键，双手在键盘上就能弹奏旋律与和弦，打字的手指也能变成演奏家的手指。",
        "内置高品质合成音源，第一次打开就有声音，不必另购音源，也无需任何设置，插上耳机即可安静练习。",
        "收录通用MIDI全部一百二十八种乐器音色，钢琴、吉它、提琴、萨克斯、合成器应有尽有，任您选择。",
        "十六个快捷音色按钮一键切换，数字键同样可以换音色，演奏中随心变换乐器，现场表演从容不迫。",
        "连接外部MIDI键盘，您弹下的每个音都会在屏幕上即时亮起，边弹边看，学琴识谱事半功倍。",
        "音符即按即响，延迟极低，无论是快速的跑动还是连音都同样干净利落，让练习和创作更加得心应手。",
        "欢迎访问我们的网站，海量免费乐谱等您下载，从儿歌到名曲，从入门到进阶，每天都有新的曲目。",
    };
    std::array<QString, 10> result;
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = QString::fromUtf8(texts[i]);
    return result;
}

// The rich-text box holds one paragraph per line.
void setLines(QTextEdit *box, const QString &text)
{
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // a final line break adds no empty line
    box->setPlainText(lines.join(QLatin1Char('\n')));
}

// A screen reader names the page's text after its heading, as the eye reads
// them together.
void nameTextBox(QTextEdit *box, const QString &heading)
{
    box->setAccessibleName(heading.isEmpty() ? QString::fromUtf8("广告") : heading);
}

} // namespace

std::array<QString, 10> PageHeaders = initialHeaders();
std::array<QString, 10> PageTexts = initialTexts();

TADPlayer::TADPlayer() : SkinWindow(QString::fromUtf8("指尖上的音乐世界"), QSize(400, 356))
{
    background()->setFormPicture(QStringLiteral("TADPlayer.ImgBkg"));

    MsgHeader_ = new QLabel(PageHeaders[0], this);
    MsgHeader_->setObjectName(QStringLiteral("MsgHeader"));
    QFont headerFont(QString::fromUtf8("隶书"));
    headerFont.setPixelSize(21);
    headerFont.setBold(true);
    MsgHeader_->setFont(headerFont);
    MsgHeader_->setStyleSheet(QStringLiteral("color: silver; background: transparent;"));
    MsgHeader_->move(9, 22);
    MsgHeader_->adjustSize();
    makeRouted(MsgHeader_);

    Msg_ = new QTextEdit(this);
    Msg_->setObjectName(QStringLiteral("Msg"));
    Msg_->setGeometry(8, 84, 195, 266);
    QFont textFont(QStringLiteral("MS Sans Serif"));
    textFont.setPixelSize(19);
    Msg_->setFont(textFont);
    Msg_->setReadOnly(true);
    Msg_->setFrameStyle(QFrame::NoFrame);
    Msg_->setFocusPolicy(Qt::NoFocus);
    Msg_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Msg_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Msg_->setLineWrapMode(QTextEdit::WidgetWidth);
    Msg_->document()->setDocumentMargin(2);
    Msg_->setStyleSheet(QStringLiteral("QTextEdit { color: silver; background: black; }"));
    QStringList designed;
    for (const char *line : DesignedLines)
        designed << QString::fromUtf8(line);
    Msg_->setPlainText(designed.join(QLatin1Char('\n')));
    nameTextBox(Msg_, MsgHeader_->text());
    // The text box is part of the window's surface: moves over it drag.
    makePassive(Msg_);
    Msg_->viewport()->setAttribute(Qt::WA_TransparentForMouseEvents);

    createSwitches();
    setFocusPolicy(Qt::StrongFocus);
    centreOnScreen();
}

void TADPlayer::createSwitches()
{
    struct Layout {
        const char *name;
        const char *picture;
        const char *spoken; // the pictures are arrows and a cross
        int top;
        skin::SwitchHandler<TADPlayer> down, up;
    };
    const Layout switches[] = {
        {"ImgUpperPage", "UPPERPAGE", "上一页", 231, &TADPlayer::ImgUpperPageMouseDown, &TADPlayer::ImgUpperPageMouseUp},
        {"ImgNextPage", "NEXTPAGE", "下一页", 256, &TADPlayer::ImgNextPageMouseDown, &TADPlayer::ImgNextPageMouseUp},
        {"ImgClose", "ADCLOSE", "关闭", 327, &TADPlayer::ImgCloseMouseDown, &TADPlayer::ImgCloseMouseUp},
    };
    for (const Layout &l : switches) {
        auto *button = new skin::ImageControl(this, QLatin1String(l.name), QRect(211, l.top, 21, 21));
        button->loadBitmap(QLatin1String(l.picture) + QStringLiteral("_UP"));
        button->setAccessibleName(QString::fromUtf8(l.spoken));
        skin::bindSwitch(button, this, l.down, l.up);
    }
}

skin::ImageControl *TADPlayer::control(const QString &name) const
{
    return findChild<skin::ImageControl *>(name, Qt::FindDirectChildrenOnly);
}

void TADPlayer::FormCreate()
{
    PageIndex = 0;
    PageTexts[0] = Msg_->toPlainText().split(QLatin1Char('\n')).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

void TADPlayer::showPage()
{
    MsgHeader_->setText(PageHeaders[static_cast<std::size_t>(PageIndex)]);
    MsgHeader_->adjustSize();
    setLines(Msg_, PageTexts[static_cast<std::size_t>(PageIndex)]);
    nameTextBox(Msg_, MsgHeader_->text());
}

void TADPlayer::ImgUpperPageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    skin::switchPress(control(QStringLiteral("ImgUpperPage")), QStringLiteral("UPPERPAGE"), button);
}

void TADPlayer::ImgUpperPageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (!skin::switchRelease(control(QStringLiteral("ImgUpperPage")), QStringLiteral("UPPERPAGE"), button, pos))
        return;
    PageIndex = (PageIndex + 9) % 10;
    showPage();
}

void TADPlayer::ImgNextPageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    skin::switchPress(control(QStringLiteral("ImgNextPage")), QStringLiteral("NEXTPAGE"), button);
}

void TADPlayer::ImgNextPageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (!skin::switchRelease(control(QStringLiteral("ImgNextPage")), QStringLiteral("NEXTPAGE"), button, pos))
        return;
    PageIndex = (PageIndex + 1) % 10;
    showPage();
}

void TADPlayer::ImgCloseMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    skin::switchPress(control(QStringLiteral("ImgClose")), QStringLiteral("ADCLOSE"), button);
}

void TADPlayer::ImgCloseMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (skin::switchRelease(control(QStringLiteral("ImgClose")), QStringLiteral("ADCLOSE"), button, pos))
        hide();
}

void TADPlayer::FormKeyDown(int key, Qt::KeyboardModifiers shift)
{
    if (key == VkUp)
        ImgUpperPageMouseDown(Qt::LeftButton, shift, KeyPoint);
    else if (key == VkDown)
        ImgNextPageMouseDown(Qt::LeftButton, shift, KeyPoint);
}

void TADPlayer::FormKeyUp(int key, Qt::KeyboardModifiers shift)
{
    if (key == VkUp)
        ImgUpperPageMouseUp(Qt::LeftButton, shift, KeyPoint);
    else if (key == VkDown)
        ImgNextPageMouseUp(Qt::LeftButton, shift, KeyPoint);
}

namespace {
int virtualKey(const QKeyEvent &event)
{
    switch (event.key()) {
    case Qt::Key_Up: return VkUp;
    case Qt::Key_Down: return VkDown;
    default: return 0;
    }
}
} // namespace

void TADPlayer::keyPressEvent(QKeyEvent *event)
{
    FormKeyDown(virtualKey(*event), event->modifiers());
}

void TADPlayer::keyReleaseEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat())
        FormKeyUp(virtualKey(*event), event->modifiers());
}

void TADPlayer::FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPoint pos)
{
    if (buttons & Qt::LeftButton)
        startDrag(pos);
}

void TADPlayer::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
}

} // namespace tastavia::promo
