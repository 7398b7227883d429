#pragma once
// What both main windows do with the raise message of a later instance.

#include <QWidget>

#include "app/SingleInstance.h"

namespace corvane {

inline void RaiseWindowFor(QWidget* window, quint32 key) {
    if (key != RAISE_INSTANCE_KEY) return;
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

}  // namespace corvane
