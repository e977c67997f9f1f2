#pragma once
// SIGTERM (what a desktop logout sends), SIGINT and SIGHUP end the desktop
// program the way closing its window does, without the one step that needs
// somebody at the screen:
//
//   signal ─ self-pipe ─ event loop ─ EndBySignal, then every 20 ms until closed:
//     a run in progress: cancel it ("User break the task!")
//     a box or dialog open over it: close it as Esc would
//     nothing left: close the main window ─ no save question, the
//     configuration is not written ─ result lines appended to the log
//
// The handler itself only writes the signal's number into a pipe: nothing
// else is safe inside a signal handler, and the event loop picks it up.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace duplora {

class EndSignals : public QObject {
    Q_OBJECT
public:
    // Catches the three signals for the life of this object (one at a time
    // per process); `onSignal` runs on the interface thread, from the event
    // loop, once for each signal received.
    explicit EndSignals(std::function<void(int signo)> onSignal, QObject* parent = nullptr);
    ~EndSignals() override;

private:
    void readPipe();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace duplora
