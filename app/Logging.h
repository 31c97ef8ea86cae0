#pragma once
// Where the process finds its files and how it sets up log4cplus.

#include <QString>
#include <string>

// The suite data folder (with a trailing '/'), where the process, the
// controller and the token store find their files.
QString GetDataFolder();

inline constexpr const char* kLogConfigurationName = "log4cplus_configureZOR.ini";

// The logging configuration to use: the file in the suite data folder, else
// the one of that name in the working directory; empty when neither is a
// readable regular file.
std::string LogConfigurationPath();

// Configures the default logger hierarchy from LogConfigurationPath(), with
// ZOR's own appender types known (zor::TraceFileAppender). Leaves
// logging unconfigured, and says so on standard error, when there is no file.
// Returns the file used (empty for none).
std::string ConfigureLogging();
