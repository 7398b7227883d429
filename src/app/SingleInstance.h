#pragma once
// Only one instance runs per user. The first listens on a local socket in the user's runtime
// folder; a later one sends it the raise message and ends without a window.

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace corvane {

inline constexpr int WM_RAISE_INSTANCE = 1024 + 12;           // the raise message's number
inline constexpr quint32 RAISE_INSTANCE_KEY = 0x909262;       // the key it must carry

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);

    // The socket's name: in $XDG_RUNTIME_DIR when set (private to the user), else in the
    // temporary folder with the user id in the name.
    static QString ServerName();

    // True when this is the first instance (it now listens). False when another instance
    // answers, or when listening fails, which counts the same.
    bool BecomeFirst();

    // Sends WM_RAISE_INSTANCE with the key to the running instance. True when delivered.
    static bool SendRaise(quint32 key = RAISE_INSTANCE_KEY);

signals:
    // A later instance asked this one to come to the front.
    void raiseRequested(quint32 key);

private:
    void ReadMessage();

    QLocalServer server_;
};

}  // namespace corvane
