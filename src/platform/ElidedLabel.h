#pragma once
// A one-line text that shortens itself in the middle when it does not fit, so a long path
// keeps its start and its end.

#include <QLabel>

namespace corvane {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr) : QLabel(parent) {}

    // Sets the text to show; FullText() gives it back unshortened.
    void SetFullText(const QString& text);
    QString FullText() const { return fullText_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString fullText_;
};

}  // namespace corvane
