#pragma once
// Dialog layouts are given in dialog units: a quarter of the font's average character width
// across, an eighth of its height down. Converting with the dialog font's metrics keeps every
// layout in proportion whatever font the desktop uses.

#include <QFont>
#include <QRect>
#include <QWidget>

namespace corvane {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;

private:
    double baseX_;
    double baseY_;
};

// The font every dialog is laid out in: the desktop's sans-serif face at 8 points.
QFont DialogFont();

// Places a control at a rectangle given in dialog units and tags it with its control id,
// which tests use to find it.
void PlaceControl(QWidget* control, const DialogUnits& units, int id, int x, int y, int width, int height);

// The control with the given id below a window, or nullptr.
QWidget* FindControl(const QWidget* window, int id);

}  // namespace corvane
