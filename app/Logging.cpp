#include "Logging.h"

#include <log4cplus/configurator.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "Paths.h"
#include "TraceFileAppender.h"

namespace {

bool IsReadableFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::ifstream probe(path);
    return probe.good();
}

}  // namespace

QString GetDataFolder() {
    return QString::fromStdString(platform::DataFolder());
}

std::string LogConfigurationPath() {
    const std::string inDataFolder = platform::DataFolder() + kLogConfigurationName;
    if (IsReadableFile(inDataFolder)) return inDataFolder;
    if (IsReadableFile(kLogConfigurationName)) return kLogConfigurationName;
    return {};
}

std::string ConfigureLogging() {
    const std::string path = LogConfigurationPath();
    if (path.empty()) {
        std::fprintf(stderr, "ZOR: no %s in %s or the working directory; logging not configured\n",
                     kLogConfigurationName, platform::DataFolder().c_str());
        return path;
    }
    RegisterTraceFileAppender();
    try {
        log4cplus::PropertyConfigurator::doConfigure(LOG4CPLUS_STRING_TO_TSTRING(path));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ZOR: logging configuration %s rejected: %s\n", path.c_str(),
                     error.what());
    }
    return path;
}
