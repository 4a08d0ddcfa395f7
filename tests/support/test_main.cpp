// The main() of every test program: a simulated board in a private root directory, and a
// QApplication on the offscreen platform so pages can be built and clicked.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/isolation.h"
#include "support/test_root.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("ZEL_BOARD", "sim", 1);
    std::string root = zeltest::makeTempDir("zel-test-");
    setenv("ZEL_ROOT", root.c_str(), 1);
    // Each test gets its own root and leaves no singleton, window or global behind: the tests of a
    // program pass when run together in one process, in any order.
    ::testing::UnitTest::GetInstance()->listeners().Append(new zeltest::IsolationListener);
    int rc;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    if (!std::getenv("ZEL_KEEP_ROOT")) {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    return rc;
}
