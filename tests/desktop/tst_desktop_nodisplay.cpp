// Without a display the window calls find nothing and do nothing; the
// address opener can be replaced and put back.
#include <platform/desktop/Desktop.h>

#include <QtTest>

using namespace tastavia::desktop;

class DesktopNoDisplayTest : public QObject
{
    Q_OBJECT

private slots:
    void windowCallsWithoutDisplay_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("no server there") << QByteArray(":64999");
        QTest::newRow("malformed") << QByteArray("not a display");
    }
    void windowCallsWithoutDisplay()
    {
        QFETCH(QByteArray, display);
        if (display.isNull())
            qunsetenv("DISPLAY");
        else
            qputenv("DISPLAY", display);

        QCOMPARE(findTopLevelWindow("PravikHelp"), std::nullopt);
        QVERIFY(!isWindow(1));
        QVERIFY(!showNormal(1));
        setForeground(1);
        closeWindow(1);
    }

    void urlOpener_receivesAddressesUntilReplaced()
    {
        QList<QUrl> opened;
        const UrlOpener system = setUrlOpener([&opened](const QUrl &url) { opened << url; });
        QVERIFY(system);
        const QUrl help(QStringLiteral("http://example.org/download/PravikHelp.chm"));
        openUrl(help);
        QCOMPARE(opened, QList<QUrl>{help});

        const UrlOpener recorder = setUrlOpener(system);
        recorder(help);
        QCOMPARE(opened.size(), 2);
        // Without a GUI application the system opener refuses quietly
        // instead of starting a browser or crashing.
        openUrl(help);
        QCOMPARE(opened.size(), 2);
    }

    void urlOpener_emptyPutsSystemBack()
    {
        QList<QUrl> opened;
        setUrlOpener([&opened](const QUrl &url) { opened << url; });
        setUrlOpener({});
        openUrl(QUrl(QStringLiteral("http://example.org/staff/index.htm")));
        QVERIFY(opened.isEmpty());
        QVERIFY(setUrlOpener({}));
    }
};

QTEST_GUILESS_MAIN(DesktopNoDisplayTest)
#include "tst_desktop_nodisplay.moc"
