// The patch bar and the patch selection window, driven as the user would:
// quick-patch images, the two-line label, the select-patch image, and the
// family and instrument lists with OK, Cancel and Apply.
#include <ClipDirectory.h>
#include <FakeKorvalink.h>
#include <PointerDriver.h>
#include <device/Instruments.h>
#include <keyboard/PianoMain.h>
#include <patches/Patch.h>
#include <patches/PatchState.h>
#include <skin/Skin.h>

#include <QAccessible>
#include <QRandomGenerator>
#include <QScreen>
#include <QtTest>

using tastavia::fake::fakeDevice;
using tastavia::keyboard::TKeyboard;
using tastavia::patches::CurrentPatch;
using tastavia::patches::QuickPatches;
using tastavia::patches::TPatchSelect;
using namespace tastavia::device;
using Sent = std::vector<std::uint32_t>;

class PatchBarTest : public QObject
{
    Q_OBJECT

    tastavia::testing::ClipDirectory clips;
    std::unique_ptr<TKeyboard> keyboard;
    std::unique_ptr<TPatchSelect> select;
    std::unique_ptr<tastavia::testing::PointerDriver> pointer;

    QString picture(const char *name) const { return keyboard->control(QLatin1String(name))->pictureName(); }
    QString label() const { return keyboard->ShowPatch()->text(); }
    QPoint patchCentre(int k) const { return {179 + 28 * (k - 1) + 14, 63}; }
    QPoint selectPatchAt(int x, int y) const { return QPoint(645 + x, 37 + y); }

    void clickIn(const char *button, QPoint at = QPoint(5, 5))
    {
        auto *control = select->control(QLatin1String(button));
        tastavia::testing::PointerDriver driver(select.get());
        driver.press(control->pos() + QPoint(5, 5));
        driver.release(control->pos() + at);
    }
    void openSelection() { keyboard->ImgSelectPatchMouseUp(Qt::LeftButton, Qt::NoModifier, QPoint(1, 1)); }
    // The child a screen reader finds under a window by its spoken name.
    static QAccessibleInterface *spoken(QWidget *window, const QString &name)
    {
        QAccessibleInterface *root = QAccessible::queryAccessibleInterface(window);
        for (int i = 0; i < root->childCount(); ++i)
            if (root->child(i)->text(QAccessible::Name) == name)
                return root->child(i);
        return nullptr;
    }
    static void pressAction(QAccessibleInterface *control)
    {
        QVERIFY(control && control->actionInterface());
        QVERIFY(control->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        control->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    void chooseFamily(int family) { select->PatchTypes()->setCurrentRow(family - 1); }
    void chooseInstrument(int index) { select->PatchStyles()->setCurrentRow(index); }

private slots:
    void initTestCase() { clips.enter(); }

    void init()
    {
        fakeDevice().reset();
        tastavia::patches::resetPatchState();
        IsNT5 = true;
        keyboard = std::make_unique<TKeyboard>();
        keyboard->FormCreate();
        select = std::make_unique<TPatchSelect>(keyboard.get());
        select->FormCreate();
        keyboard->setPatchSelect(select.get());
        keyboard->show();
        pointer = std::make_unique<tastavia::testing::PointerDriver>(keyboard.get());
        fakeDevice().clearCalls();
    }

    void cleanup()
    {
        keyboard->setPatchSelect(nullptr);
        select.reset();
        keyboard.reset();
    }

    void startsOnTheFirstQuickPatch()
    {
        QCOMPARE(picture("ImgPatch1"), QStringLiteral("PATCH01_DOWN"));
        QCOMPARE(picture("ImgPatch16"), QStringLiteral("PATCH16_UP"));
        QCOMPARE(label(), QString::fromUtf8("三角钢琴"));
        QCOMPARE(keyboard->control(QStringLiteral("ImgPatch13"))->hint(), QString::fromUtf8("雨"));
        QCOMPARE(keyboard->ShowPatch()->pos(), QPoint(87, 55));
        QVERIFY(fakeDevice().sent().empty());
    }

    void longNamesSplitOverTwoLines_data()
    {
        QTest::addColumn<int>("program");
        QTest::addColumn<QString>("expected");
        const struct { int program; const char *text; } rows[] = {
            {2, "电子三\n  角钢琴"}, {34, "拨片弹\n  奏贝司"}, {35, "无弦码低\n  音贝司"}, {50, "合成弦\n  乐器1"},
            {51, "合成弦\n  乐器2"}, {52, "\"啊\"声\n  合唱"}, {53, "\"欧\"声\n  合唱"}, {55, "流行管\n  弦乐"},
            {59, "弱音器\n  小号"}, {67, "准低音\n  萨克"}, {79, "奥卡利\n  那笛"}, {81, "锯齿波\n  管乐2"},
            {90, "多重合成\n  音色垫"}, {92, "弓弦音\n  色垫"}, {94, "环形音\n  色垫"}, {95, "剧擦音\n  色垫"},
            {110, "费得乐\n  小提琴"}, {36, "打击贝司1"}, {62, "合成管乐1"}, {96, "雨"}, {0, "三角钢琴"},
        };
        for (const auto &row : rows)
            QTest::newRow(qPrintable(QString::number(row.program))) << row.program << QString::fromUtf8(row.text);
    }
    void longNamesSplitOverTwoLines()
    {
        QFETCH(int, program);
        QFETCH(QString, expected);
        keyboard->ChangeShowPatch(wordOfProgram(program));
        QCOMPARE(label(), expected);
        QCOMPARE(keyboard->ShowPatch()->pos(), expected.contains('\n') ? QPoint(86, 48) : QPoint(87, 55));
    }

    void everyTwoLineNameIsOverNineBytes()
    {
        int twoLine = 0;
        for (int p = 0; p < 128; ++p) {
            keyboard->ChangeShowPatch(wordOfProgram(p));
            twoLine += label().contains('\n');
            QCOMPARE(label().contains('\n'), gbkLength(QString::fromUtf8(PatchNames[p])) > 9);
        }
        QCOMPARE(twoLine, 17);
    }

    void labelMovesOnceAndComesBack()
    {
        keyboard->ChangeShowPatch(wordOfProgram(2));
        keyboard->ChangeShowPatch(wordOfProgram(35));
        QCOMPARE(keyboard->ShowPatch()->pos(), QPoint(86, 48));
        keyboard->ChangeShowPatch(wordOfProgram(0));
        QCOMPARE(keyboard->ShowPatch()->pos(), QPoint(87, 55));
        keyboard->ChangeShowPatch(wordOfProgram(1));
        QCOMPARE(keyboard->ShowPatch()->pos(), QPoint(87, 55));
    }

    void releasingAnywhereMakesThePressedPatchCurrent()
    {
        pointer->press(patchCentre(5));
        QCOMPARE(picture("ImgPatch5"), QStringLiteral("PATCH05_DOWN"));
        pointer->move({400, 160});
        pointer->release({400, 160});
        QCOMPARE(CurrentPatch, 5);
        QCOMPARE(fakeDevice().sent(), Sent{0x20C0});
        QCOMPARE(picture("ImgPatch5"), QStringLiteral("PATCH05_DOWN"));
        QCOMPARE(picture("ImgPatch1"), QStringLiteral("PATCH01_UP"));
        QCOMPARE(label(), QString::fromUtf8("古典贝司"));
        // No key was played by the release over the keys.
        QVERIFY(!keyboard->HeldKey());
    }

    void pressingTheCurrentPatchAgainResendsItsWord()
    {
        pointer->click(patchCentre(1));
        QCOMPARE(picture("ImgPatch1"), QStringLiteral("PATCH01_DOWN"));
        QCOMPARE(fakeDevice().sent(), Sent{0xC0});
    }

    void otherMouseKeysOnAPatchDoNothing()
    {
        pointer->click(patchCentre(3), Qt::RightButton);
        pointer->click(patchCentre(3), Qt::MiddleButton);
        QCOMPARE(CurrentPatch, 1);
        QCOMPARE(picture("ImgPatch3"), QStringLiteral("PATCH03_UP"));
        QVERIFY(fakeDevice().sent().empty());
    }

    void patchBarChangesEvenWhenTheDeviceRefuses()
    {
        fakeDevice().midiAnswer = [](std::uint32_t) { return false; };
        pointer->click(patchCentre(8));
        QCOMPARE(CurrentPatch, 8);
        QCOMPARE(label(), QString::fromUtf8("小号"));
    }

    void selectPatchImageLightsUnderThePointerAndDarkensOnTheBackground()
    {
        pointer->move(selectPatchAt(10, 10));
        QCOMPARE(picture("ImgSelectPatch"), QStringLiteral("SELECTPATCH_DOWN"));
        QVERIFY(keyboard->SelectPatchLit);
        QCOMPARE(keyboard->HoverPatch, 0);
        pointer->move(patchCentre(4));
        pointer->move({95, 60});
        QCOMPARE(picture("ImgSelectPatch"), QStringLiteral("SELECTPATCH_DOWN"));
        pointer->move({620, 185});
        QCOMPARE(picture("ImgSelectPatch"), QStringLiteral("SELECTPATCH_UP"));
        QVERIFY(!keyboard->SelectPatchLit);
        QCOMPARE(keyboard->HoverPatch, CurrentPatch);
    }

    void selectPatchImageTogglesTheWindowOnlyStrictlyInside()
    {
        pointer->click(selectPatchAt(0, 10));
        pointer->click(selectPatchAt(52, 10));
        QVERIFY(!select->isVisible());
        pointer->click(selectPatchAt(51, 51));
        QVERIFY(select->isVisible());
        pointer->click(selectPatchAt(1, 1));
        QVERIFY(!select->isVisible());
    }

    void openingShowsTheCurrentSlotsFamilyAndInstrument()
    {
        CurrentPatch = 4;
        QuickPatches[4] = wordOfProgram(26);
        openSelection();
        QCOMPARE(select->PatchTypes()->currentItem()->text(), QString::fromUtf8("吉它"));
        QCOMPARE(select->PatchStyles()->count(), 8);
        QCOMPARE(select->PatchStyles()->item(0)->text(), QString::fromUtf8("尼龙吉它"));
        QCOMPARE(select->PatchStyles()->currentItem()->text(), QString::fromUtf8("爵士吉它"));
        QCOMPARE(select->ChosenFamily, 4);
        QCOMPARE(select->ChosenMessage, wordOfProgram(26));
        QVERIFY(fakeDevice().sent().empty());
    }

    void clickingAFamilySelectsItsFirstInstrumentAndSendsNothing()
    {
        openSelection();
        chooseFamily(6);
        QCOMPARE(select->PatchStyles()->currentItem()->text(), QString::fromUtf8("小提琴"));
        QCOMPARE(select->ChosenMessage, wordOfProgram(40));
        QCOMPARE(select->ChosenFamily, 6);
        QVERIFY(fakeDevice().sent().empty());
    }

    void okCommitsToTheFamilysQuickPatch()
    {
        openSelection();
        chooseFamily(8);
        clickIn("ImgOk");
        QCOMPARE(CurrentPatch, 8);
        QCOMPARE(picture("ImgPatch8"), QStringLiteral("PATCH08_DOWN"));
        QCOMPARE(picture("ImgPatch1"), QStringLiteral("PATCH01_UP"));
        QCOMPARE(QuickPatches[8], 0x38C0u);
        QCOMPARE(QuickPatches[1], 0xC0u);
        QCOMPARE(label(), QString::fromUtf8("小号"));
        QVERIFY(!select->isVisible());
        QCOMPARE(select->control(QStringLiteral("ImgOk"))->pictureName(), QStringLiteral("PATCHOK_UP"));
    }

    void okWithAChangedInstrumentSendsItTwice()
    {
        CurrentPatch = 8;
        QuickPatches[8] = 0x38C0;
        openSelection();
        chooseInstrument(1);
        clickIn("ImgOk");
        QCOMPARE(QuickPatches[8], 0x39C0u);
        QCOMPARE(keyboard->control(QStringLiteral("ImgPatch8"))->hint(), QString::fromUtf8("长号"));
        QCOMPARE(fakeDevice().sent(), (Sent{0x39C0, 0x39C0}));
    }

    void okWithTheShownChoiceSendsOnce()
    {
        openSelection();
        clickIn("ImgOk");
        QCOMPARE(fakeDevice().sent(), Sent{0xC0});
        QCOMPARE(CurrentPatch, 1);
        QVERIFY(!select->isVisible());
    }

    void refusedNewInstrumentOnOkCancelsAndCommitsNothing()
    {
        openSelection();
        chooseFamily(8);
        chooseInstrument(1);
        fakeDevice().midiAnswer = [](std::uint32_t word) { return word != 0x39C0; };
        clickIn("ImgOk");
        QCOMPARE(QuickPatches[8], 0x38C0u);
        QCOMPARE(label(), QString::fromUtf8("小号"));
        QCOMPARE(fakeDevice().sent(), (Sent{0x39C0, 0x38C0}));
        QVERIFY(!select->isVisible());
    }

    void applyPreviewsAndCancelRestores_data()
    {
        QTest::addColumn<QString>("cancel");
        QTest::newRow("Cancel") << "click";
        QTest::newRow("Escape in a list") << "list";
        QTest::newRow("Escape on the window") << "window";
    }
    void applyPreviewsAndCancelRestores()
    {
        QFETCH(QString, cancel);
        openSelection();
        chooseFamily(8);
        chooseInstrument(1);
        clickIn("ImgApply");
        QCOMPARE(label(), QString::fromUtf8("长号"));
        QVERIFY(select->isVisible());
        if (cancel == "click")
            clickIn("ImgCancle");
        else
            QTest::keyClick(cancel == "list" ? static_cast<QWidget *>(select->PatchStyles()) : select.get(), Qt::Key_Escape);
        QCOMPARE(label(), QString::fromUtf8("三角钢琴"));
        QCOMPARE(fakeDevice().sent(), (Sent{0x39C0, 0xC0}));
        QCOMPARE(CurrentPatch, 1);
        QCOMPARE(QuickPatches[8], 0x38C0u);
        QVERIFY(!select->isVisible());
    }

    void escapeWhileTheMouseHoldsAButtonLeavesItUp()
    {
        openSelection();
        QVERIFY(QTest::qWaitForWindowExposed(select.get()));
        const QPoint ok = select->control(QStringLiteral("ImgOk"))->pos() + QPoint(5, 5);
        QTest::mousePress(select->windowHandle(), Qt::LeftButton, {}, ok);
        QCOMPARE(select->control(QStringLiteral("ImgOk"))->pictureName(), QStringLiteral("PATCHOK_DOWN"));
        QTest::keyClick(select.get(), Qt::Key_Escape);
        QVERIFY(!select->isVisible());
        QCOMPARE(select->control(QStringLiteral("ImgOk"))->pictureName(), QStringLiteral("PATCHOK_UP"));
        // Cancel's word only: OK did not act.
        QCOMPARE(fakeDevice().sent(), Sent{0xC0});
        QTest::mouseRelease(select->windowHandle(), Qt::LeftButton, {}, ok);
    }

    void refusedApplyKeepsTheLabel()
    {
        openSelection();
        chooseFamily(8);
        fakeDevice().midiAnswer = [](std::uint32_t) { return false; };
        clickIn("ImgApply");
        QCOMPARE(label(), QString::fromUtf8("三角钢琴"));
        QVERIFY(select->isVisible());
    }

    void previewLeftByClosingStaysUntilTheCurrentPatchIsPressed()
    {
        openSelection();
        chooseFamily(8);
        chooseInstrument(1);
        clickIn("ImgApply");
        openSelection(); // closes it
        QVERIFY(!select->isVisible());
        QCOMPARE(label(), QString::fromUtf8("长号"));
        openSelection();
        QCOMPARE(select->PatchTypes()->currentRow(), 0);
        QCOMPARE(select->PatchStyles()->currentRow(), 0);
        openSelection();
        pointer->click(patchCentre(1));
        QCOMPARE(label(), QString::fromUtf8("三角钢琴"));
        QCOMPARE(fakeDevice().sent().back(), 0xC0u);
    }

    void restoringTheProgramKeepsAChoiceInProgress()
    {
        openSelection();
        chooseFamily(8);
        chooseInstrument(1);
        select->move(10, 10);
        keyboard->showMinimized();
        QTRY_VERIFY(!select->isVisible());
        keyboard->showNormal();
        QTRY_VERIFY(select->isVisible());
        QCOMPARE(select->ChosenMessage, 0x39C0u);
        QCOMPARE(select->PatchTypes()->currentRow(), 7);
        QCOMPARE(select->PatchStyles()->currentRow(), 1);
        QCOMPARE(select->pos(), QPoint(10, 10));
    }

    void enterCommitsTheListsChoice()
    {
        openSelection();
        chooseFamily(8);
        chooseInstrument(3);
        QTest::keyClick(select->PatchTypes(), Qt::Key_Return);
        QCOMPARE(QuickPatches[8], 0x38C0u); // the family's first, not the highlighted one
        QVERIFY(!select->isVisible());

        openSelection();
        chooseInstrument(3);
        QTest::keyClick(select->PatchStyles(), Qt::Key_Return);
        QCOMPARE(QuickPatches[8], wordOfProgram(59));
    }

    // What a screen reader finds: the keys, quick patches and switches are
    // named push buttons whose press action plays or clicks them.
    void assistiveTechnologyFindsNamedButtonsThatPress()
    {
        QAccessibleInterface *root = QAccessible::queryAccessibleInterface(keyboard.get());
        QCOMPARE(root->role(), QAccessible::Window);
        QCOMPARE(root->text(QAccessible::Name), QStringLiteral("Tastavia"));
        int buttons = 0;
        for (int i = 0; i < root->childCount(); ++i)
            buttons += root->child(i)->role() == QAccessible::Button;
        QCOMPARE(buttons, 61 + 16 + 6);
        QCOMPARE(QAccessible::queryAccessibleInterface(keyboard->background())->role(), QAccessible::Graphic);
        QCOMPARE(QAccessible::queryAccessibleInterface(keyboard->Ad())->role(), QAccessible::Graphic);

        QAccessibleInterface *middleC = spoken(keyboard.get(), QStringLiteral("C4"));
        QAccessibleInterface *sharp = spoken(keyboard.get(), QStringLiteral("C#4"));
        QVERIFY(middleC && sharp && spoken(keyboard.get(), QStringLiteral("C2")) && spoken(keyboard.get(), QStringLiteral("C7")));
        QCOMPARE(middleC->object(), keyboard->keyOfNote(60));
        QCOMPARE(middleC->text(QAccessible::Description), QString::fromUtf8("白键"));
        QCOMPARE(sharp->object(), keyboard->keyOfNote(61));
        QCOMPARE(sharp->text(QAccessible::Description), QString::fromUtf8("黑键"));

        // A press is a whole click: the note starts and ends, none is left on.
        pressAction(middleC);
        QCOMPARE(fakeDevice().sent(), (Sent{0x7F3C90, 0x7F3C80}));
        QVERIFY(!keyboard->HeldKey());
        QCOMPARE(keyboard->keyOfNote(60)->pictureName(), QStringLiteral("WHITEKEY_UP"));

        pressAction(spoken(keyboard.get(), QString::fromUtf8("选择音色")));
        QVERIFY(select->isVisible());
        QCOMPARE(QAccessible::queryAccessibleInterface(select.get())->text(QAccessible::Name), QString::fromUtf8("选择音色"));
        QCOMPARE(QAccessible::queryAccessibleInterface(select->PatchTypes())->text(QAccessible::Name), QString::fromUtf8("乐器类别"));
        QVERIFY(spoken(select.get(), QString::fromUtf8("取消")) && spoken(select.get(), QString::fromUtf8("应用")));
        QVERIFY(spoken(keyboard.get(), QString::fromUtf8("快捷音色 8：小号")));
        chooseFamily(8);
        chooseInstrument(1);
        pressAction(spoken(select.get(), QString::fromUtf8("确定")));
        QVERIFY(!select->isVisible());
        // The slot's name follows the instrument committed to it.
        QAccessibleInterface *slot = spoken(keyboard.get(), QString::fromUtf8("快捷音色 8：长号"));
        QVERIFY(slot && slot->state().pressed);
        QVERIFY(!spoken(keyboard.get(), QString::fromUtf8("快捷音色 1：三角钢琴"))->state().pressed);
    }

    void buttonReleasesOnTheEdgeOnlyRestoreThePicture_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::newRow("x 0") << QPoint(0, 10);
        QTest::newRow("x 66") << QPoint(66, 10);
        QTest::newRow("y 0") << QPoint(10, 0);
        QTest::newRow("y 25") << QPoint(10, 25);
    }
    void buttonReleasesOnTheEdgeOnlyRestoreThePicture()
    {
        QFETCH(QPoint, at);
        openSelection();
        chooseFamily(8);
        for (const char *button : {"ImgOk", "ImgCancle", "ImgApply"})
            clickIn(button, at);
        QVERIFY(select->isVisible());
        QVERIFY(fakeDevice().sent().empty());
        QCOMPARE(select->control(QStringLiteral("ImgCancle"))->pictureName(), QStringLiteral("PATCHCANCLE_UP"));
    }

    void placementBesideTheKeyboard_data()
    {
        QTest::addColumn<bool>("nt5");
        QTest::addColumn<int>("keyboardTop");
        QTest::addColumn<int>("expectedTop"); // relative to the keyboard's top
        const int centred = QGuiApplication::primaryScreen()->geometry().height() / 2 - 192 / 2;
        QTest::newRow("above the right end") << true << 400 << -321 + 29;
        QTest::newRow("above the screen's top") << true << 10 << -321 + 29;
        QTest::newRow("low keyboard: above") << false << centred + 1 << -321 - 5;
        QTest::newRow("exactly centred: below") << false << centred << 192 + 5;
        QTest::newRow("high keyboard: below") << false << 0 << 192 + 5;
    }
    void placementBesideTheKeyboard()
    {
        QFETCH(bool, nt5);
        QFETCH(int, keyboardTop);
        QFETCH(int, expectedTop);
        IsNT5 = nt5;
        keyboard->move(100, keyboardTop);
        openSelection();
        const QRect k = keyboard->frameGeometry();
        const QRect w = select->frameGeometry();
        QCOMPARE(w.top(), keyboardTop + expectedTop);
        if (nt5)
            QCOMPARE(w.left(), k.left() + 714 - 199);
        else
            QCOMPARE(w.left(), k.left() + 714 / 2 - w.width() / 2);
    }

    void everySlotKeepsAnInstrumentOfItsFamily()
    {
        QRandomGenerator random(20261208);
        openSelection();
        for (int step = 0; step < 3000; ++step) {
            if (!select->isVisible())
                openSelection();
            switch (random.bounded(7)) {
            case 0: chooseFamily(random.bounded(1, 17)); break;
            case 1: chooseInstrument(random.bounded(8)); break;
            case 2: clickIn("ImgOk"); break;
            case 3: clickIn("ImgApply"); break;
            case 4: clickIn("ImgCancle"); break;
            case 5: pointer->click(patchCentre(random.bounded(1, 17))); break;
            case 6: fakeDevice().midiAnswer = [&](std::uint32_t) { return random.bounded(4) != 0; }; break;
            }
            for (int k = 1; k <= 16; ++k)
                QCOMPARE(programOfWord(QuickPatches[k]) / 8, k - 1);
            QVERIFY(CurrentPatch >= 1 && CurrentPatch <= 16);
        }
    }
};

QTEST_MAIN(PatchBarTest)
#include "tst_patchbar.moc"
