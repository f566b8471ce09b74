// Test main for dialog tests: a headless QApplication with the Qt backend installed.
#include "framework/qt/qt_framework.h"
#include "res/resources.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    pw::RegisterProgramResources();
    pw::qt::InstallQtFramework();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
