// The advert pages window: turning pages with the switches and the arrow
// keys, wrap-around, the copy's shape, closing and dragging.
#include <PointerDriver.h>
#include <promo/AD.h>

#include <QtTest>

using tastavia::promo::PageHeaders;
using tastavia::promo::PageTexts;
using tastavia::promo::TADPlayer;

class AdPlayerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TADPlayer> window;
    std::unique_ptr<tastavia::testing::PointerDriver> pointer;

    QString picture(const char *name) const { return window->control(QLatin1String(name))->pictureName(); }
    QStringList lines() const { return window->Msg()->toPlainText().split(QLatin1Char('\n')); }
    void clickNext() { pointer->click({221, 266}); }
    void clickPrevious() { pointer->click({221, 241}); }

private slots:
    void init()
    {
        window = std::make_unique<TADPlayer>();
        window->FormCreate();
        window->show();
        pointer = std::make_unique<tastavia::testing::PointerDriver>(window.get());
    }
    void cleanup() { window.reset(); }

    void copyHasTheDesignedShape()
    {
        QCOMPARE(PageHeaders[0], QStringLiteral("Pravik"));
        for (int i = 1; i < 10; ++i) {
            QVERIFY2(PageHeaders[i].size() >= 5 && PageHeaders[i].size() <= 6, qPrintable(PageHeaders[i]));
            QVERIFY2(PageTexts[i].size() >= 42 && PageTexts[i].size() <= 74, qPrintable(PageTexts[i]));
            QVERIFY(!PageTexts[i].contains(QLatin1Char('\n')));
        }
        QCOMPARE(PageTexts[0].count(QStringLiteral("\r\n")), 8);
        QVERIFY(PageTexts[0].endsWith(QStringLiteral("\r\n")));
    }

    void tenStepsForwardReturnToTheDesignedPage()
    {
        const QStringList designed = lines();
        QCOMPARE(designed.size(), 8);
        for (int i = 1; i <= 10; ++i) {
            clickNext();
            QCOMPARE(window->PageIndex, i % 10);
            QCOMPARE(window->MsgHeader()->text(), PageHeaders[i % 10]);
        }
        QCOMPARE(lines(), designed);
        QCOMPARE(window->MsgHeader()->text(), QStringLiteral("Pravik"));
    }

    void oneStepBackFromTheFirstPageShowsTheLast()
    {
        clickPrevious();
        QCOMPARE(window->PageIndex, 9);
        QCOMPARE(window->MsgHeader()->text(), PageHeaders[9]);
        QCOMPARE(window->Msg()->toPlainText(), PageTexts[9]);
    }

    void releaseOffTheSwitchOnlyRestoresItsPicture()
    {
        pointer->press({221, 266});
        QCOMPARE(picture("ImgNextPage"), QStringLiteral("NEXTPAGE_DOWN"));
        pointer->move({100, 200});
        pointer->release({100, 200});
        QCOMPARE(picture("ImgNextPage"), QStringLiteral("NEXTPAGE_UP"));
        QCOMPARE(window->PageIndex, 0);
        QVERIFY(!window->dragging());
    }

    void heldArrowKeyTurnsOncePerRelease()
    {
        for (int i = 0; i < 5; ++i) {
            QTest::keyPress(window.get(), Qt::Key_Down);
            QCOMPARE(picture("ImgNextPage"), QStringLiteral("NEXTPAGE_DOWN"));
        }
        QCOMPARE(window->PageIndex, 0);
        QTest::keyRelease(window.get(), Qt::Key_Down);
        QCOMPARE(window->PageIndex, 1);
        QCOMPARE(picture("ImgNextPage"), QStringLiteral("NEXTPAGE_UP"));
    }

    void modifiersMakeNoDifference()
    {
        QTest::keyClick(window.get(), Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(window->PageIndex, 9);
        QTest::keyClick(window.get(), Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(window->PageIndex, 0);
        QTest::keyClick(window.get(), Qt::Key_Left);
        QTest::keyClick(window.get(), Qt::Key_PageDown);
        QCOMPARE(window->PageIndex, 0);
    }

    void closeHidesTheWindow()
    {
        pointer->click({221, 337});
        QVERIFY(!window->isVisible());
        window->close();
        QVERIFY(!window->isVisible());
    }

    void dragsFromTheBackgroundAndTheTextBoxButNotTheHeading()
    {
        pointer->press({100, 200}); // over the text box
        pointer->move({101, 201});
        QVERIFY(window->dragging());
        pointer->release({101, 201});
        pointer->press({20, 30}); // the heading label
        pointer->move({21, 31});
        QVERIFY(!window->dragging());
        pointer->release({21, 31});
        pointer->press({300, 100}); // bare background
        pointer->move({301, 101});
        QVERIFY(window->dragging());
        pointer->release({301, 101});
    }
};

QTEST_MAIN(AdPlayerTest)
#include "tst_adplayer.moc"
