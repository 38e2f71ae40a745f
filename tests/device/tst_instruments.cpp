// The instrument catalogue: program-change words, families, and the GBK
// byte measure the instrument label wraps by.
#include <device/Instruments.h>
#include <patches/PatchState.h>

#include <QtTest>

using namespace tastavia::device;

class InstrumentsTest : public QObject
{
    Q_OBJECT
private slots:
    void gbkLengthCountsTwoPerChineseCharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bytes");
        QTest::newRow("one character") << QString::fromUtf8("雨") << 2;
        QTest::newRow("digit") << QString::fromUtf8("打击贝司1") << 9;
        QTest::newRow("quotes") << QString::fromUtf8(PatchNames[52]) << 10;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("outside the basic plane") << QString::fromUtf8("𝄞") << 2;
    }
    void gbkLengthCountsTwoPerChineseCharacter()
    {
        QFETCH(QString, text);
        QFETCH(int, bytes);
        QCOMPARE(gbkLength(text), bytes);
    }

    void wordsRoundTripEveryProgram()
    {
        for (int p = 0; p < 128; ++p) {
            const ProgramWord w = wordOfProgram(p);
            QCOMPARE(w & 0xFFu, 0xC0u);
            QCOMPARE(programOfWord(w), p);
            QCOMPARE(familyOfProgram(p), p / 8 + 1);
            QCOMPARE(nameOfWord(w), QString::fromUtf8(PatchNames[p]));
            QVERIFY(!nameOfWord(w).isEmpty());
        }
        QCOMPARE(wordOfProgram(127), 0x7FC0u);
        QCOMPARE(nameOfWord(0xC0), QString::fromUtf8("三角钢琴"));
    }

    void wordsThatAreNoProgramChangeHaveNoName()
    {
        QVERIFY(nameOfWord(0).isEmpty());
        QVERIFY(nameOfWord(0x3C90).isEmpty());
        QVERIFY(nameOfWord(0x80C0).isEmpty());
        QVERIFY(nameOfWord(0xFFFFFFFF).isEmpty());
    }

    void familyAndInstrumentNamesAreIndependentEntries()
    {
        QCOMPARE(QString::fromUtf8(FamilyNames[3]), QString::fromUtf8("风琴"));
        QCOMPARE(QString::fromUtf8(PatchNames[109]), QString::fromUtf8("风琴"));
        QCOMPARE(QString::fromUtf8(PatchNames[52]), QString::fromUtf8("\"啊\"声合唱"));
        QCOMPARE(QString::fromUtf8(PatchNames[53]), QString::fromUtf8("\"欧\"声合唱"));
    }

    void quickPatchesStartOnEachFamilysFirstInstrument()
    {
        tastavia::patches::QuickPatches[3] = wordOfProgram(20);
        tastavia::patches::CurrentPatch = 9;
        tastavia::patches::resetPatchState();
        QCOMPARE(tastavia::patches::CurrentPatch, 1);
        for (int k = 1; k <= 16; ++k)
            QCOMPARE(tastavia::patches::QuickPatches[k], 0xC0u + 0x800u * (k - 1));
    }
};

QTEST_MAIN(InstrumentsTest)
#include "tst_instruments.moc"
