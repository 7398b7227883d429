// Entry point of the widget tests: a real QApplication on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/Resources.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    corvane::LoadResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
