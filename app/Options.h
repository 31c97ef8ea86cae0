#pragma once
// The command line of the process: the generic option reader ReadArg, the
// options ZOR understands, their usage texts and the echo block that shows
// what a run was started with.

#include <string>
#include <vector>

// ReadArg results.
enum ReadArgResult { kReadArgFailed = 0, kReadArgAbsent = 1, kReadArgPresent = 2 };

// Looks for the option word of `format` (from its '-' to the first blank)
// among argv[1..argc-1] and, when found, stores the words that follow it
// into the result locations, one per '%' conversion in `format`:
//   %c unsigned char* (decimal, kept in one byte)   %d double*
//   %i int*   %l long*   %s char** (the word itself)   %x int* (hexadecimal)
// Returns kReadArgPresent, kReadArgAbsent, or kReadArgFailed for a format
// without '-' or with an unknown conversion. An option that lacks its value
// words because the command line ends counts as absent.
int ReadArg(int argc, char* argv[], const char* format, ...);

// The name used when "-name" gives none, and the log file used when neither
// "-logfile" nor ZOR_LOGNAME gives one.
inline constexpr const char* kDefaultProcessName = "ZOR";
inline constexpr const char* kDefaultLogFile = "C:/temp/zorlog.txt";

struct ZorOptions {
    std::string name = kDefaultProcessName;
    unsigned char debugMask = 0;
    std::string logFile = kDefaultLogFile;
    bool noConsole = false;
    int suspendMode = 0;
    bool help = false;
    int failures = 0;
};

// What the caller has to do after reading the options.
enum class OptionsOutcome {
    Run,             // carry on with start-up
    ExitNow,         // end the process with status 0
    WaitKeyAndExit,  // wait for one character on standard input, then end with 0
};

// Reads the options and writes what the start-up shows about them to the
// Qt debug output: the debug usage text for "-help", the short usage text
// after failures, else the options echo block. Sets the process-wide suspend
// mode (platform::SetSuspendMode).
OptionsOutcome ReadOptions(int argc, char* argv[], ZorOptions& options);

// The usage texts, each one debug message.
std::string UsageText(bool forDebug);
inline constexpr const char* kPressKeyText = "\n\nPlease press a key to close down program.\n";

// The options echo block, one entry per debug message.
std::vector<std::string> OptionsEchoBlock(const ZorOptions& options);

// All arguments, argument 0 included, each followed by one blank, cut to
// at most `limit` characters.
std::string JoinCommandLine(int argc, char* argv[], std::size_t limit = 1000);
