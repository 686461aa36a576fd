// Test main for every test program that needs Qt: one QApplication, offscreen unless told otherwise,
// and private runtime and data folders so that no test touches the user's files.

#include "tests/support/qt/qt_printers.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string scratch = (std::filesystem::temp_directory_path() / "postira-qt-XXXXXX").string();
    if (mkdtemp(scratch.data()) == nullptr) return 2;
    const std::string runtime = scratch + "/runtime";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string data = scratch + "/data";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return result;
}
