// Whether anyone can see a top-level window: mapped, not minimised and not
// wholly covered by other windows. X11 tells every client that asks when a
// window's visibility, map state or properties change; this watcher asks
// over a connection of its own, so that the toolkit resetting its own event
// mask on the window cannot make it deaf. On X11 it goes by the server
// alone: Qt 6.4 misses a restore from outside of a window it minimised
// itself. Elsewhere it knows only what the toolkit knows: shown and not
// minimised.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace tastavia::desktop {

class WindowSight : public QObject
{
    Q_OBJECT
public:
    // Watches the widget's own top-level window from when it is created;
    // the widget owns the watcher.
    explicit WindowSight(QWidget *window);
    ~WindowSight() override;

    bool seen() const { return seen_; }

signals:
    void seenChanged(bool seen);
    // The X server asked for (part of) the window to be drawn again.
    void exposed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void attach();
    void readEvents();
    void update();

    struct Server;
    std::unique_ptr<Server> server_;
    QPointer<QWidget> window_;
    bool mapped_ = true;
    // WM_STATE says Iconic: minimised, where the manager keeps the window
    // mapped (mutter does).
    bool iconic_ = false;
    bool covered_ = false;
    bool seen_ = true;
};

} // namespace tastavia::desktop
