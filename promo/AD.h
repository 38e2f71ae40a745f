#pragma once

#include <skin/SkinWindow.h>

#include <QLabel>
#include <QTextEdit>

#include <array>

namespace tastavia::promo {

// Ten pages of product text: a heading and a paragraph each. Filled before
// any window exists; entry 0 of the texts is taken from the window's own
// designed text when it is created.
extern std::array<QString, 10> PageHeaders;
extern std::array<QString, 10> PageTexts;

// The advert pages window, shown on top of the keyboard at start-up. Its
// switches and the up and down arrow keys turn the pages; closing it only
// hides it, and nothing shows it again.
class TADPlayer : public skin::SkinWindow
{
    Q_OBJECT
public:
    TADPlayer();
    void FormCreate();

    int PageIndex = 0;
    QLabel *MsgHeader() const { return MsgHeader_; }
    QTextEdit *Msg() const { return Msg_; }
    skin::ImageControl *control(const QString &name) const;

    void ImgUpperPageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgUpperPageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgNextPageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgNextPageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgCloseMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgCloseMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void FormKeyUp(int key, Qt::KeyboardModifiers shift);

protected:
    void FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pos) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void showPage();
    void createSwitches();

    QLabel *MsgHeader_ = nullptr;
    QTextEdit *Msg_ = nullptr;
};

} // namespace tastavia::promo
