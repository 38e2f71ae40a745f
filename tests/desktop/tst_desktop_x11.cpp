// Finding, restoring, activating and closing windows on a real X server with
// a real window manager (openbox), including windows of another process.
// Run with "--titled-window TITLE [--refuse-close]", the binary is that other
// process: it shows one window and ends when the window closes.
#include <platform/desktop/Desktop.h>
#include <platform/desktop/WindowSight.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace tastavia::desktop;

namespace {

class TitledWindow : public QWidget
{
public:
    explicit TitledWindow(const QString &title, bool refuseClose = false) : refuseClose_(refuseClose)
    {
        setWindowTitle(title);
        resize(240, 120);
    }

protected:
    void closeEvent(QCloseEvent *event) override { event->setAccepted(!refuseClose_); }

private:
    bool refuseClose_;
};

// A second client of the display, for windows and checks no toolkit makes.
class X
{
public:
    X() : c_(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(c_))
            root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~X() { xcb_disconnect(c_); }
    bool ok() const { return root_ != 0; }
    xcb_window_t root() const { return root_; }

    xcb_atom_t atom(const char *name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr), &std::free);
        return r ? r->atom : 0;
    }
    // Never mapped, so no window manager knows it.
    xcb_window_t window(xcb_window_t parent = 0)
    {
        const xcb_window_t w = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, parent ? parent : root_, 0, 0, 50, 50, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        sync();
        return w;
    }
    void set(xcb_window_t w, const char *property, xcb_atom_t type, int format, const void *data, std::size_t count)
    {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), type, format, count, data);
        sync();
    }
    void setName(xcb_window_t w, const char *property, const char *type, const std::string &bytes)
    {
        set(w, property, atom(type), 8, bytes.data(), bytes.size());
    }
    void destroy(xcb_window_t w)
    {
        xcb_destroy_window(c_, w);
        sync();
    }
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    bool viewable(xcb_window_t w)
    {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> r(
            xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr), &std::free);
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    QList<std::uint32_t> values(xcb_window_t w, const char *property)
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(
            xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                   nullptr),
            &std::free);
        if (!r || r->format != 32)
            return {};
        const auto *v = static_cast<const std::uint32_t *>(xcb_get_property_value(r.get()));
        return {v, v + xcb_get_property_value_length(r.get()) / 4};
    }
    std::uint32_t activeWindow() { return values(root_, "_NET_ACTIVE_WINDOW").value(0); }
    std::uint32_t topmostClient()
    {
        const auto stacking = values(root_, "_NET_CLIENT_LIST_STACKING");
        return stacking.value(stacking.size() - 1);
    }
    // Whether a WM_DELETE_WINDOW request for `w` has reached this client.
    bool receivedDeleteRequest(xcb_window_t w)
    {
        sync();
        bool received = false;
        while (xcb_generic_event_t *event = xcb_poll_for_event(c_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
                received |= message->window == w && message->type == atom("WM_PROTOCOLS")
                            && message->data.data32[0] == atom("WM_DELETE_WINDOW");
            }
            std::free(event);
        }
        return received;
    }

private:
    xcb_connection_t *c_;
    xcb_window_t root_ = 0;
};

// A window of another process; killed if a test fails before it ends.
struct OtherProcess {
    QProcess process;
    QString title;
    explicit OtherProcess(const QString &title, bool refuseClose = false)
        : title(title)
    {
        QStringList arguments{QStringLiteral("--titled-window"), title};
        if (refuseClose)
            arguments << QStringLiteral("--refuse-close");
        // Why a window never showed is in what the other program said.
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(), arguments);
    }
    // The window once found. Asking twice could miss it: while the window
    // manager reparents it into a frame, the window is neither a child of
    // the root nor yet marked as a client.
    WindowId waitForWindow()
    {
        std::optional<WindowId> found;
        if (!QTest::qWaitFor([&] { return (found = findTopLevelWindow(title.toStdString())).has_value(); }, 15000))
            return 0;
        return *found;
    }
    ~OtherProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class DesktopX11Test : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(x.ok(), "no X server");
        QVERIFY2(!x.values(x.root(), "_NET_SUPPORTING_WM_CHECK").empty(), "no window manager");
    }

    void findsWindowByExactTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("help viewer") << QStringLiteral("PravikHelp");
        QTest::newRow("chinese") << QStringLiteral("选择音色");
        QTest::newRow("latin accents") << QStringLiteral("Grüße, café");
    }
    void findsWindowByExactTitle()
    {
        QFETCH(QString, title);
        TitledWindow window(title);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(findTopLevelWindow(title.toStdString()), std::optional<WindowId>(window.winId()));
        QVERIFY(isWindow(window.winId()));
    }

    void nearMissTitlesAreNotFound_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("search");
        QTest::newRow("longer") << "PravikHelp" << "PravikHelp2";
        QTest::newRow("case") << "PravikHelp" << "pravikhelp";
        QTest::newRow("trailing space") << "PravikHelp" << "PravikHelp ";
        // A title that only starts with the search must not do.
        QTest::newRow("prefix") << "PravikHelp2" << "PravikHelp";
        QTest::newRow("chinese prefix") << "选择音色" << "选择";
    }
    void nearMissTitlesAreNotFound()
    {
        QFETCH(QString, title);
        QFETCH(QString, search);
        TitledWindow window(title);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(findTopLevelWindow(title.toStdString()).has_value());
        QCOMPARE(findTopLevelWindow(search.toStdString()), std::nullopt);
    }

    // Windows that no window manager lists: hidden ones, clients inside a
    // frame, and windows named only the old way. Child windows are not
    // top-level and never count.
    void findsWindowsOutsideTheManagersList()
    {
        TitledWindow hidden(QStringLiteral("Hidden Tastavia"));
        hidden.show();
        QVERIFY(QTest::qWaitForWindowExposed(&hidden));
        hidden.hide();
        QTRY_VERIFY(!x.viewable(hidden.winId()));
        QTRY_COMPARE(findTopLevelWindow("Hidden Tastavia"), std::optional<WindowId>(hidden.winId()));

        const xcb_window_t frame = x.window();
        const xcb_window_t client = x.window(frame);
        const std::uint32_t normalState[2] = {1, 0};
        x.set(client, "WM_STATE", x.atom("WM_STATE"), 32, normalState, 2);
        x.setName(client, "_NET_WM_NAME", "UTF8_STRING", "Framed client");
        QCOMPARE(findTopLevelWindow("Framed client"), std::optional<WindowId>(client));

        const xcb_window_t outer = x.window();
        const xcb_window_t inner = x.window(outer);
        x.setName(outer, "_NET_WM_NAME", "UTF8_STRING", "Outer window");
        x.setName(inner, "_NET_WM_NAME", "UTF8_STRING", "Inner window");
        QCOMPARE(findTopLevelWindow("Outer window"), std::optional<WindowId>(outer));
        QCOMPARE(findTopLevelWindow("Inner window"), std::nullopt);

        const xcb_window_t latin1 = x.window();
        x.setName(latin1, "WM_NAME", "STRING", "Gr\xFC\xDF" "e Latin");
        QCOMPARE(findTopLevelWindow("Grüße Latin"), std::optional<WindowId>(latin1));

        // Where both names exist, the EWMH one is the title.
        const xcb_window_t both = x.window();
        x.setName(both, "_NET_WM_NAME", "UTF8_STRING", "Modern name");
        x.setName(both, "WM_NAME", "STRING", "Legacy name");
        QCOMPARE(findTopLevelWindow("Modern name"), std::optional<WindowId>(both));
        QCOMPARE(findTopLevelWindow("Legacy name"), std::nullopt);

        for (const xcb_window_t w : {frame, outer, latin1, both})
            x.destroy(w);
    }

    void closeWindow_closesAnotherProgramsWindow()
    {
        OtherProcess other(QStringLiteral("PravikHelp"));
        QVERIFY(other.process.waitForStarted());
        const WindowId window = other.waitForWindow();
        QVERIFY(window != 0);

        closeWindow(window);
        // A polite close: the program ends by itself, with success. A
        // program cut off from the display would end with an error.
        QVERIFY(other.process.waitForFinished(15000));
        QCOMPARE(other.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(other.process.exitCode(), 0);
        QVERIFY(!isWindow(window));
    }

    void closeWindow_returnsAtOnceWhenRefused()
    {
        OtherProcess other(QStringLiteral("Stubborn viewer"), true);
        QVERIFY(other.process.waitForStarted());
        const WindowId window = other.waitForWindow();
        QVERIFY(window != 0);

        QElapsedTimer timer;
        timer.start();
        closeWindow(window);
        QVERIFY2(timer.elapsed() < 5000, "closing waited for the window");
        QTest::qWait(1500);
        QCOMPARE(other.process.state(), QProcess::Running);
        QVERIFY(isWindow(window));
    }

    // No manager handles a window it does not manage, so the request goes
    // to the window's program itself; without a close protocol nothing is
    // sent and the window stays.
    void closeWindow_unmanagedWindow()
    {
        const xcb_window_t polite = x.window();
        const xcb_atom_t deleteWindow = x.atom("WM_DELETE_WINDOW");
        x.set(polite, "WM_PROTOCOLS", XCB_ATOM_ATOM, 32, &deleteWindow, 1);
        closeWindow(polite);
        QVERIFY(x.receivedDeleteRequest(polite));
        QVERIFY(isWindow(polite));

        const xcb_window_t plain = x.window();
        closeWindow(plain);
        QVERIFY(!x.receivedDeleteRequest(plain));
        QVERIFY(isWindow(plain));

        x.destroy(polite);
        x.destroy(plain);
        QVERIFY(!isWindow(polite));
    }

    void showNormal_restoresAndReportsEarlierVisibility()
    {
        TitledWindow window(QStringLiteral("Tastavia"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const WindowId id = window.winId();
        QCOMPARE(showNormal(id), true);
        QVERIFY(x.viewable(id));

        const xcb_atom_t maximized = x.atom("_NET_WM_STATE_MAXIMIZED_VERT");
        window.showMaximized();
        QTRY_VERIFY(x.values(id, "_NET_WM_STATE").contains(maximized));
        QCOMPARE(showNormal(id), true);
        QTRY_VERIFY(!x.values(id, "_NET_WM_STATE").contains(maximized));

        // Checked on the server: Qt 6.4 misses the restore of a window that
        // it minimised itself.
        window.showMinimized();
        QTRY_VERIFY(!x.viewable(id));
        QCOMPARE(showNormal(id), false);
        QTRY_VERIFY(x.viewable(id));
        QTRY_COMPARE(x.values(id, "WM_STATE").value(0), 1u);

        // A window that was never shown is shown now.
        const xcb_window_t withdrawn = x.window();
        QCOMPARE(showNormal(withdrawn), false);
        QTRY_VERIFY(x.viewable(withdrawn));
        x.destroy(withdrawn);
        QCOMPARE(showNormal(withdrawn), false);
    }

    // What lets the advert strip rest: a window wholly covered, minimised
    // (and restored from outside, which Qt itself misses) or hidden is not
    // seen; half covered, it is.
    void windowSight_followsCoverMinimiseAndRestore()
    {
        TitledWindow window(QStringLiteral("Watched"));
        WindowSight sight(&window);
        QVERIFY(!sight.seen());
        QSignalSpy changes(&sight, &WindowSight::seenChanged);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(sight.seen());

        // A compositing manager (mutter) draws every window from its own
        // copy, so the server never calls one covered there.
        const bool compositing = qEnvironmentVariable("TASTAVIA_WM") == QLatin1String("mutter");
        if (!compositing) {
            QWidget cover;
            cover.setWindowTitle(QStringLiteral("Cover"));
            cover.setGeometry(window.geometry().adjusted(-40, -40, 40, 40));
            cover.show();
            QTRY_VERIFY(!sight.seen());
            cover.resize(cover.width() / 2, cover.height());
            QTRY_VERIFY(sight.seen());
        }

        window.showMinimized();
        QTRY_VERIFY(!sight.seen());
        QCOMPARE(showNormal(WindowId(window.winId())), false);
        QTRY_VERIFY(sight.seen());
        window.hide();
        QTRY_VERIFY(!sight.seen());
        QCOMPARE(changes.size(), compositing ? 4 : 6);
    }

    void setForeground_activatesAndRaises()
    {
        TitledWindow first(QStringLiteral("First")), second(QStringLiteral("Second"));
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        QTRY_COMPARE(x.activeWindow(), std::uint32_t(second.winId()));

        setForeground(first.winId());
        QTRY_COMPARE(x.activeWindow(), std::uint32_t(first.winId()));
        QTRY_COMPARE(x.topmostClient(), std::uint32_t(first.winId()));
        setForeground(second.winId());
        QTRY_COMPARE(x.activeWindow(), std::uint32_t(second.winId()));
    }

private:
    X x;
};

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--titled-window") == 0) {
        QApplication app(argc, argv);
        TitledWindow window(QString::fromUtf8(argv[2]), argc >= 4 && std::strcmp(argv[3], "--refuse-close") == 0);
        window.show();
        return app.exec();
    }
    QApplication app(argc, argv);
    DesktopX11Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop_x11.moc"
