// The version query decides between the shaped and the rectangular skins.
#include <platform/desktop/Desktop.h>

#include <QtTest>

using namespace tastavia::desktop;

Q_DECLARE_METATYPE(VersionInfo)

namespace tastavia::desktop {
// Found by QCOMPARE through argument-dependent lookup.
char *toString(const VersionInfo &v)
{
    return qstrdup(QByteArray::number(v.platformId) + ':' + QByteArray::number(v.major) + '.'
                   + QByteArray::number(v.minor));
}
} // namespace tastavia::desktop

class DesktopVersionTest : public QObject
{
    Q_OBJECT

private slots:
    void kernelRelease_data()
    {
        QTest::addColumn<QString>("release");
        QTest::addColumn<VersionInfo>("expected");
        QTest::newRow("debian 12") << "6.1.0-18-amd64" << VersionInfo{kPlatformNT, 6, 1};
        QTest::newRow("two-digit minor") << "6.18.44-fc-v1300" << VersionInfo{kPlatformNT, 6, 18};
        QTest::newRow("two-digit major") << "10.2" << VersionInfo{kPlatformNT, 10, 2};
        QTest::newRow("major only") << "7" << VersionInfo{kPlatformNT, 7, 0};
        // Older kernels drive shaped windows just as well.
        QTest::newRow("4.19") << "4.19.0-27-amd64" << VersionInfo{kPlatformNT, 5, 0};
        QTest::newRow("2.6") << "2.6.32-754.el6" << VersionInfo{kPlatformNT, 5, 0};
        QTest::newRow("unreadable") << "unknown" << VersionInfo{kPlatformNT, 5, 0};
        QTest::newRow("empty") << "" << VersionInfo{kPlatformNT, 5, 0};
    }
    void kernelRelease()
    {
        QFETCH(QString, release);
        QFETCH(VersionInfo, expected);
        const VersionInfo version = versionFromKernelRelease(release.toStdString());
        QCOMPARE(version, expected);
        QVERIFY(isNT5From(version));
    }

    void isNT5_data()
    {
        QTest::addColumn<VersionInfo>("version");
        QTest::addColumn<bool>("nt5");
        QTest::newRow("2000") << VersionInfo{kPlatformNT, 5, 0} << true;
        QTest::newRow("vista") << VersionInfo{kPlatformNT, 6, 0} << true;
        QTest::newRow("nt 4") << VersionInfo{kPlatformNT, 4, 0} << false;
        QTest::newRow("nt 3.51") << VersionInfo{kPlatformNT, 3, 51} << false;
        QTest::newRow("98") << VersionInfo{kPlatformWindows9x, 4, 10} << false;
        QTest::newRow("9x family, major 5") << VersionInfo{kPlatformWindows9x, 5, 0} << false;
        QTest::newRow("win32s") << VersionInfo{0, 5, 0} << false;
    }
    void isNT5()
    {
        QFETCH(VersionInfo, version);
        QFETCH(bool, nt5);
        QCOMPARE(isNT5From(version), nt5);
    }

    void thisSystemGetsTheShapedSkins()
    {
        const auto version = queryVersion();
        QVERIFY(version.has_value());
        QCOMPARE(version->platformId, kPlatformNT);
        QVERIFY(isNT5From(*version));
    }
};

QTEST_APPLESS_MAIN(DesktopVersionTest)
#include "tst_desktop_version.moc"
