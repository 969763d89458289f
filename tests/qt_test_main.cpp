// main() of the test programs that need a QApplication: the offscreen platform, so that windows
// work without a display, unless a test run asks for another one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Qt wants a private runtime folder; give it one where the session has none.
    if (getenv("XDG_RUNTIME_DIR") == nullptr) {
        const auto folder =
            std::filesystem::temp_directory_path() / ("muruteka-tests-" + std::to_string(getuid()));
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
