// Test main for dialog tests on the Win32 backend: the program's resources and the backend installed.
#include "framework/win32/win32_framework.h"
#include "res/resources.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    pw::RegisterProgramResources();
    pw::win32::InstallWin32Framework();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
