#include "platform/ElidedLabel.h"

#include <QFontMetrics>

namespace corvane {

void ElidedLabel::SetFullText(const QString& text) {
    fullText_ = text;
    setToolTip(text);
    Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, width())); }

}  // namespace corvane
