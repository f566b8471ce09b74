// A fresh folder for one test, removed with everything in it at the end.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace pw::test {

struct TempDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("pw-sts-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
        std::filesystem::remove_all(path);
    }
};

} // namespace pw::test
