// main() for the tests of the operator surface: a widgets application object,
// made after the environment is set so that the start-up under test reaches
// no real suite (its own temporary folder, data folder and an ODBC set-up
// without data sources), and gone before Qt's own globals are.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    const fs::path scratch =
        fs::temp_directory_path() / ("zor-surface-" + std::to_string(::getpid()));
    fs::create_directories(scratch / "ProgramData");
    fs::create_directories(scratch / "runtime");
    fs::permissions(scratch / "runtime", fs::perms::owner_all);
    ::setenv("TMPDIR", scratch.c_str(), 1);
    ::setenv("ProgramData", (scratch / "ProgramData").c_str(), 1);
    ::setenv("ODBCINI", (scratch / "odbc.ini").c_str(), 1);
    ::setenv("ODBCSYSINI", scratch.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (scratch / "runtime").c_str(), 1);
    ::unsetenv("ZOR_LOGNAME");
    int result = 0;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName("zor");  // the window's title, as in the process
        QApplication::setQuitOnLastWindowClosed(false);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return result;
}
