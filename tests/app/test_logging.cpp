// Where the process finds its logging configuration, and that the one it
// finds is applied.

#include <gtest/gtest.h>
#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "Logging.h"
#include "Paths.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// A scratch ProgramData folder and working directory; restores both.
class LoggingSetup : public testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("zor-logging-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        m_programData = m_root / "ProgramData";
        m_work = m_root / "work";
        fs::create_directories(m_programData);
        fs::create_directories(m_work);
        if (const char* old = std::getenv("ProgramData")) m_oldProgramData = old;
        setenv("ProgramData", m_programData.c_str(), 1);
        m_oldCwd = fs::current_path();
        fs::current_path(m_work);
    }
    void TearDown() override {
        fs::current_path(m_oldCwd);
        if (m_oldProgramData)
            setenv("ProgramData", m_oldProgramData->c_str(), 1);
        else
            unsetenv("ProgramData");
        fs::remove_all(m_root);
    }
    fs::path DataFolderFile() const {
        return m_programData / "Velmor Dezidizu" / "zpel" / kLogConfigurationName;
    }

    fs::path m_root, m_programData, m_work, m_oldCwd;
    std::optional<std::string> m_oldProgramData;
};

}  // namespace

TEST_F(LoggingSetup, DataFolderFileComesFirst) {
    WriteFile(DataFolderFile(), "# data folder\n");
    WriteFile(m_work / kLogConfigurationName, "# working directory\n");
    EXPECT_EQ(fs::path(LogConfigurationPath()), DataFolderFile());
    EXPECT_EQ(GetDataFolder().toStdString(),
              (m_programData / "Velmor Dezidizu" / "zpel").string() + "/");
}

TEST_F(LoggingSetup, WorkingDirectoryFileWhenDataFolderHasNone) {
    WriteFile(m_work / kLogConfigurationName, "# working directory\n");
    EXPECT_EQ(LogConfigurationPath(), kLogConfigurationName);
    // A folder of that name in the data folder is not a configuration.
    fs::create_directories(DataFolderFile());
    EXPECT_EQ(LogConfigurationPath(), kLogConfigurationName);
}

TEST_F(LoggingSetup, NoFileAnywhereLeavesLoggingUnconfigured) {
    fs::remove_all(m_programData);  // the data folder does not even exist
    testing::internal::CaptureStderr();
    EXPECT_EQ(ConfigureLogging(), "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("logging not configured"),
              std::string::npos);
}

TEST_F(LoggingSetup, ProgramDataUnsetUsesTheFallbackFolder) {
    unsetenv("ProgramData");
    EXPECT_EQ(GetDataFolder().toStdString(), "/var/lib/Velmor Dezidizu/zpel/");
    const fs::path fallback = fs::path("/var/lib/Velmor Dezidizu/zpel") / kLogConfigurationName;
    if (fs::exists(fallback)) GTEST_SKIP() << "this machine has " << fallback;
    WriteFile(m_work / kLogConfigurationName, "# working directory\n");
    EXPECT_EQ(LogConfigurationPath(), kLogConfigurationName);
}

TEST_F(LoggingSetup, FoundConfigurationIsApplied) {
    const fs::path out = m_root / "zor-test.log";
    WriteFile(DataFolderFile(),
              "log4cplus.logger.ZORTestOnly=INFO, F\n"
              "log4cplus.additivity.ZORTestOnly=false\n"
              "log4cplus.appender.F=log4cplus::FileAppender\n"
              "log4cplus.appender.F.File=" +
                  out.string() +
                  "\n"
                  "log4cplus.appender.F.layout=log4cplus::PatternLayout\n"
                  "log4cplus.appender.F.layout.ConversionPattern=%c:%m%n\n");
    EXPECT_EQ(fs::path(ConfigureLogging()), DataFolderFile());
    auto logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("ZORTestOnly"));
    LOG4CPLUS_INFO(logger, LOG4CPLUS_TEXT("Start ZOR"));
    logger.removeAllAppenders();
    EXPECT_EQ(ReadFile(out), "ZORTestOnly:Start ZOR\n");
}

TEST_F(LoggingSetup, GarbageConfigurationDoesNotStopStartUp) {
    WriteFile(DataFolderFile(), std::string("\x01\x02=\xff\n=\n[[[\nlog4cplus.appender.X=No::Such\n"
                                            "log4cplus.logger.ZORJunk=INFO, X\n"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(fs::path(ConfigureLogging()), DataFolderFile());
    testing::internal::GetCapturedStderr();
    LOG4CPLUS_INFO(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("ZORJunk")),
                   LOG4CPLUS_TEXT("still alive"));
}
