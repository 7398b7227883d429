#include "platform/DialogUnits.h"

#include <QFontMetricsF>
#include <cmath>

namespace corvane {

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetricsF metrics(font);
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = metrics.horizontalAdvance(kAlphabet) / kAlphabet.size();
    baseY_ = metrics.height();
}

int DialogUnits::x(int units) const { return static_cast<int>(std::lround(units * baseX_ / 4.0)); }

int DialogUnits::y(int units) const { return static_cast<int>(std::lround(units * baseY_ / 8.0)); }

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

QFont DialogFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

void PlaceControl(QWidget* control, const DialogUnits& units, int id, int left, int top, int width,
                  int height) {
    control->setGeometry(units.rect(left, top, width, height));
    control->setProperty("controlId", id);
}

QWidget* FindControl(const QWidget* window, int id) {
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (child->property("controlId").toInt() == id && child->property("controlId").isValid()) return child;
    }
    return nullptr;
}

}  // namespace corvane
