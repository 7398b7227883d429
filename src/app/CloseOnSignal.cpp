#include "app/CloseOnSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cassert>
#include <csignal>

namespace corvane {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kPressIntervalMs = 100;

// The handler only writes a byte; the window hears of it on the GUI thread.
int wakeFds[2] = {-1, -1};

void OnSignalArrived(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeFds[1], &byte, 1);
}

}  // namespace

CloseOnSignal::CloseOnSignal(QDialog& window) : window_(&window) {
    assert(wakeFds[0] < 0);
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // then signals keep their default
    notifier_ = std::make_unique<QSocketNotifier>(wakeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &CloseOnSignal::OnSignal);
    connect(&presses_, &QTimer::timeout, this, &CloseOnSignal::Press);
    struct sigaction action {};
    action.sa_handler = OnSignalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) ::sigaction(sig, &action, nullptr);
}

CloseOnSignal::~CloseOnSignal() {
    if (!notifier_) return;
    for (int sig : kSignals) std::signal(sig, SIG_DFL);
    notifier_.reset();
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

void CloseOnSignal::OnSignal() {
    char bytes[16];
    while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
    }
    Press();
    presses_.start(kPressIntervalMs);
}

void CloseOnSignal::Press() {
    if (!window_ || !window_->isVisible()) {
        presses_.stop();
        return;
    }
    if (QWidget* popup = QApplication::activePopupWidget()) {  // a menu open in its own loop
        popup->close();
        return;
    }
    QWidget* front = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QDialog*>(front); dialog && dialog != window_) {
        dialog->reject();
    } else if (front && front != window_) {
        front->close();
    } else {
        window_->setProperty("closingOnSignal", true);
        window_->reject();
    }
}

}  // namespace corvane
