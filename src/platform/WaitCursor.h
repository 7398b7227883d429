#pragma once
// The busy cursor of a window, nested: shown at the first Begin, gone after the last End.
// GUI thread only.

#include <QApplication>

namespace corvane {

class NestedWaitCursor {
public:
    void Begin() {
        if (depth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    void End() {
        if (depth_ > 0 && --depth_ == 0) QApplication::restoreOverrideCursor();
    }

private:
    int depth_ = 0;
};

}  // namespace corvane
