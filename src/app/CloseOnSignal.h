#pragma once
// Ctrl+C, kill and a closed terminal (SIGINT, SIGTERM, SIGHUP) close a main window the way
// its Cancel button does, instead of ending the process on the spot: a running job is asked
// to stop, open message boxes and dialogs are dismissed with their safe answer, and the
// window closes once its job has ended, so that everything it owns (its temporary folder
// above all) is cleaned up as after a normal close. The window's dynamic property
// "closingOnSignal" is true before it is asked to close, so it can tell a signal from its
// close box.

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace corvane {

class CloseOnSignal final : public QObject {
public:
    // One at a time; the signals' default actions come back when it goes.
    explicit CloseOnSignal(QDialog& window);
    ~CloseOnSignal() override;
    CloseOnSignal(const CloseOnSignal&) = delete;
    CloseOnSignal& operator=(const CloseOnSignal&) = delete;

private:
    void OnSignal();
    // One press of Escape on whatever is in front, until the window is closed.
    void Press();

    QPointer<QDialog> window_;  // may go first
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer presses_;
};

}  // namespace corvane
