#include "platform/Prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace corvane {

namespace {

class MessageBoxPrompt final : public Prompt {
public:
    MessageAnswer Show(QWidget* owner, const Message& message) override {
        QMessageBox box(owner);
        box.setWindowTitle(QString::fromStdString(message.caption));
        box.setText(QString::fromStdString(message.text));
        switch (message.icon) {
            case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
            case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
            case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
            case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
        }
        switch (message.buttons) {
            case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
            case MessageButtons::YesNo:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                if (message.defaultNo) box.setDefaultButton(QMessageBox::No);
                break;
            case MessageButtons::RetryCancel:
                box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Yes: return MessageAnswer::Yes;
            case QMessageBox::No: return MessageAnswer::No;
            case QMessageBox::Retry: return MessageAnswer::Retry;
            case QMessageBox::Cancel: return MessageAnswer::Cancel;
            default: break;
        }
        // Escape or the close box: the safe answer for each kind of box.
        if (message.buttons == MessageButtons::YesNo) return MessageAnswer::No;
        if (message.buttons == MessageButtons::RetryCancel) return MessageAnswer::Cancel;
        return MessageAnswer::Ok;
    }
};

Prompt* installed = nullptr;

}  // namespace

Prompt& CurrentPrompt() {
    static MessageBoxPrompt boxes;
    return installed ? *installed : boxes;
}

void SetPrompt(Prompt* prompt) { installed = prompt; }

MessageAnswer Ask(QWidget* owner, const Message& message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return CurrentPrompt().Show(owner, message);
    MessageAnswer answer = MessageAnswer::Cancel;
    QMetaObject::invokeMethod(
        app, [&] { answer = CurrentPrompt().Show(owner, message); }, Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace corvane
