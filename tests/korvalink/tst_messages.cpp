// Where MIDI from outside enters the library: bytes from a JACK port and
// events from the ALSA sequencer become short messages here, and whatever
// is not a complete channel voice message must stop here. The ALSA side
// is checked without a sequencer, on the conversion alone.
#include "AlsaEvents.h"
#include "ShortMessage.h"

#include <QtTest>

using tastavia::korvalink::fromAlsaEvent;
using tastavia::korvalink::MessageKind;
using tastavia::korvalink::ShortMessage;
using tastavia::korvalink::toAlsaEvent;

class TestMessages : public QObject {
    Q_OBJECT

private slots:
    void fromBytes_takesCompleteChannelMessagesOnly_data();
    void fromBytes_takesCompleteChannelMessagesOnly();
    void alsaEvents_roundTripEveryKind_data();
    void alsaEvents_roundTripEveryKind();
    void alsaEvents_pitchBendIsCentredOnZero();
    void alsaEvents_otherEventsGiveNothing();
};

void TestMessages::fromBytes_takesCompleteChannelMessagesOnly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("packed"); // 0: refused
    QTest::newRow("note on") << QByteArray("\x90\x3C\x64", 3) << 0x643C90u;
    QTest::newRow("note on, velocity 0") << QByteArray("\x90\x3C\x00", 3) << 0x003C90u;
    QTest::newRow("note off, channel 16") << QByteArray("\x8F\x3C\x40", 3) << 0x403C8Fu;
    QTest::newRow("program change") << QByteArray("\xC5\x28", 2) << 0x28C5u;
    QTest::newRow("channel pressure") << QByteArray("\xD0\x40", 2) << 0x40D0u;
    QTest::newRow("pitch bend, top") << QByteArray("\xEF\x7F\x7F", 3) << 0x7F7FEFu;
    QTest::newRow("program change, three bytes") << QByteArray("\xC0\x05\x00", 3) << 0u;
    QTest::newRow("note on, two bytes") << QByteArray("\x90\x3C", 2) << 0u;
    QTest::newRow("note on, four bytes") << QByteArray("\x90\x3C\x40\x00", 4) << 0u;
    QTest::newRow("note with top bit") << QByteArray("\x90\xBC\x40", 3) << 0u;
    QTest::newRow("velocity with top bit") << QByteArray("\x90\x3C\x80", 3) << 0u;
    QTest::newRow("running status") << QByteArray("\x3C\x40\x00", 3) << 0u;
    QTest::newRow("SysEx") << QByteArray("\xF0\x7E\xF7", 3) << 0u;
    QTest::newRow("clock") << QByteArray("\xF8", 1) << 0u;
    QTest::newRow("song position") << QByteArray("\xF2\x10\x20", 3) << 0u;
    QTest::newRow("empty") << QByteArray() << 0u;
}

void TestMessages::fromBytes_takesCompleteChannelMessagesOnly()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, packed);
    const auto message =
        ShortMessage::fromBytes(reinterpret_cast<const std::uint8_t *>(bytes.constData()), bytes.size());
    QCOMPARE(message.has_value(), packed != 0);
    if (message) {
        QCOMPARE(message->pack(), packed);
        QCOMPARE(message->size(), std::size_t(bytes.size()));
    }
}

void TestMessages::alsaEvents_roundTripEveryKind_data()
{
    QTest::addColumn<quint32>("packed");
    QTest::addColumn<int>("eventType");
    QTest::newRow("note on") << 0x643C90u << int(SND_SEQ_EVENT_NOTEON);
    QTest::newRow("note on, velocity 0") << 0x003C90u << int(SND_SEQ_EVENT_NOTEON);
    QTest::newRow("note off, channel 16") << 0x407F8Fu << int(SND_SEQ_EVENT_NOTEOFF);
    QTest::newRow("key pressure") << 0x303CA1u << int(SND_SEQ_EVENT_KEYPRESS);
    QTest::newRow("controller") << 0x7F40B3u << int(SND_SEQ_EVENT_CONTROLLER);
    QTest::newRow("program change") << 0x7FC9u << int(SND_SEQ_EVENT_PGMCHANGE);
    QTest::newRow("channel pressure") << 0x00D2u << int(SND_SEQ_EVENT_CHANPRESS);
    QTest::newRow("pitch bend, bottom") << 0x0000E0u << int(SND_SEQ_EVENT_PITCHBEND);
    QTest::newRow("pitch bend, centre") << 0x4000E0u << int(SND_SEQ_EVENT_PITCHBEND);
    QTest::newRow("pitch bend, top") << 0x7F7FEFu << int(SND_SEQ_EVENT_PITCHBEND);
}

void TestMessages::alsaEvents_roundTripEveryKind()
{
    QFETCH(quint32, packed);
    QFETCH(int, eventType);
    const auto message = ShortMessage::decode(packed);
    QVERIFY(message);
    const snd_seq_event_t event = toAlsaEvent(*message);
    QCOMPARE(int(event.type), eventType);
    const auto back = fromAlsaEvent(event);
    QVERIFY(back);
    QCOMPARE(back->pack(), packed);
}

void TestMessages::alsaEvents_pitchBendIsCentredOnZero()
{
    QCOMPARE(toAlsaEvent(*ShortMessage::decode(0x4000E0)).data.control.value, 0);
    QCOMPARE(toAlsaEvent(*ShortMessage::decode(0x0000E0)).data.control.value, -8192);
    QCOMPARE(toAlsaEvent(*ShortMessage::decode(0x7F7FE0)).data.control.value, 8191);
}

void TestMessages::alsaEvents_otherEventsGiveNothing()
{
    for (const int type : {SND_SEQ_EVENT_SYSEX, SND_SEQ_EVENT_CLOCK, SND_SEQ_EVENT_SENSING, SND_SEQ_EVENT_START,
                           SND_SEQ_EVENT_NOTE, SND_SEQ_EVENT_CONTROL14, SND_SEQ_EVENT_PORT_SUBSCRIBED,
                           SND_SEQ_EVENT_PORT_UNSUBSCRIBED, SND_SEQ_EVENT_CLIENT_EXIT}) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        event.type = static_cast<snd_seq_event_type_t>(type);
        QVERIFY2(!fromAlsaEvent(event), qPrintable(QString::number(type)));
    }

    // Out of MIDI's range: a sender's mistake must not reach the synth.
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_noteon(&event, 16, 60, 100);
    QVERIFY(!fromAlsaEvent(event));
    snd_seq_ev_set_noteon(&event, 0, 128, 100);
    QVERIFY(!fromAlsaEvent(event));
    snd_seq_ev_set_controller(&event, 0, 128, 0);
    QVERIFY(!fromAlsaEvent(event));
    snd_seq_ev_set_pitchbend(&event, 0, 8192);
    QVERIFY(!fromAlsaEvent(event));
    snd_seq_ev_set_pgmchange(&event, 0, 128);
    QVERIFY(!fromAlsaEvent(event));
}

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
