#include "Options.h"

#include <QDebug>
#include <SuspendMode.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Complain(const char* text) {
    std::fputs("\n", stderr);
    std::fputs(text, stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

// strtol saturates instead of overflowing; the narrowing that follows
// wraps, which is what a one-byte or int result of a number word means.
long ToLong(const char* text, int base) {
    return std::strtol(text, nullptr, base);
}

void DebugOut(const std::string& text) {
    qDebug("%s", text.c_str());
}

}  // namespace

int ReadArg(int argc, char* argv[], const char* format, ...) {
    const char* dash = format != nullptr ? std::strchr(format, '-') : nullptr;
    if (dash == nullptr) {
        Complain("\nReadArg: Missing '-' in call argument.");
        return kReadArgFailed;
    }
    const std::size_t wordLength = std::strcspn(dash, " ");
    const std::string word(dash, wordLength);

    int found = -1;
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] != nullptr && word == argv[i]) {
            found = i;
            break;
        }
    }
    if (found < 0) return kReadArgAbsent;

    va_list results;
    va_start(results, format);
    int next = found + 1;
    int outcome = kReadArgPresent;
    for (const char* p = std::strchr(format, '%'); p != nullptr; p = std::strchr(p + 1, '%')) {
        const char letter = p[1];
        if (std::strchr("cdilsx", letter) == nullptr || letter == '\0') {
            Complain("\nReadArg: Faulty unnamed argument type");
            outcome = kReadArgFailed;
            break;
        }
        if (next >= argc || argv[next] == nullptr) {
            // The command line ends before the value: the option is absent.
            outcome = kReadArgAbsent;
            break;
        }
        const char* value = argv[next++];
        switch (letter) {
            case 'c':
                *va_arg(results, unsigned char*) = static_cast<unsigned char>(ToLong(value, 10));
                break;
            case 'd':
                *va_arg(results, double*) = std::strtod(value, nullptr);
                break;
            case 'i':
                *va_arg(results, int*) = static_cast<int>(ToLong(value, 10));
                break;
            case 'l':
                *va_arg(results, long*) = ToLong(value, 10);
                break;
            case 's':
                *va_arg(results, char**) = argv[next - 1];
                break;
            case 'x':
                *va_arg(results, int*) = static_cast<int>(ToLong(value, 16));
                break;
        }
        ++p;  // past the letter
    }
    va_end(results);
    return outcome;
}

std::string UsageText(bool forDebug) {
    std::string text = forDebug ? "\nUsage for debug:" : "\nUsage:";
    text += "\n\t[-name \"ZOR process name\" Name of the ZOR process]";
    text += forDebug ? "\n\t[-debug arg               Arg sum of selected elem:"
                     : "\n\t[-debug arg               Arg is sum of selected choices:";
    text += "\n\t                          1=Trans, 2=Sig, 4=Job, 8=Data, 16=Timers, 31=All]";
    text += "\n\t[-suspendproc arg         Arg sum of selected elem:";
    text +=
        "\n\t                          0=Disabled (default), 1=Suspend All, 2=Suspend XDRZ, "
        "3=Suspend "
        "DRZ]";
    text += "\n\t[-logfile \"file name\"     Use to log to file]";
    text += "\n\t[-noconsole               Use to turn off logging to console]";
    return text;
}

std::vector<std::string> OptionsEchoBlock(const ZorOptions& options) {
    static const char* const kRule = "------------------------------------------------------------";
    char mask[8];
    std::snprintf(mask, sizeof mask, "%x", static_cast<unsigned>(options.debugMask));
    return {
        kRule,
        "- Command Line Options (default values if not set)",
        kRule,
        "- Process Name              : " + options.name,
        std::string("- Debug                     : 0x") + mask,
        "- Suspend Process           : " + std::to_string(options.suspendMode),
        "- Log file                  : " + options.logFile,
        std::string("- noconsole                 : ") + (options.noConsole ? "1" : "0"),
        kRule,
    };
}

OptionsOutcome ReadOptions(int argc, char* argv[], ZorOptions& options) {
    options = ZorOptions{};

    char* name = nullptr;
    int result = ReadArg(argc, argv, "-name %s", &name);
    if (result == kReadArgFailed)
        ++options.failures;
    else
        options.name = (result == kReadArgPresent && name != nullptr) ? name : kDefaultProcessName;

    unsigned char mask = 0;
    result = ReadArg(argc, argv, "-debug %c", &mask);
    if (result == kReadArgFailed) {
        DebugOut("         Error in argument: -debug option failed.  ");
        ++options.failures;
    } else {
        options.debugMask = result == kReadArgPresent ? mask : 0;
    }

    char* logFile = nullptr;
    result = ReadArg(argc, argv, "-logfile %s", &logFile);
    if (result == kReadArgFailed) {
        DebugOut("         Error in argument: -logfile option failed.  ");
        ++options.failures;
    } else if (result == kReadArgPresent && logFile != nullptr) {
        options.logFile = logFile;
    } else if (const char* env = std::getenv("ZOR_LOGNAME"); env != nullptr) {
        options.logFile = env;
    } else {
        options.logFile = kDefaultLogFile;
    }

    result = ReadArg(argc, argv, "-noconsole");
    if (result == kReadArgFailed) {
        DebugOut("         Error in argument: -noconsole option failed.");
        ++options.failures;
    } else {
        options.noConsole = result == kReadArgPresent;
    }

    int suspend = 0;
    result = ReadArg(argc, argv, "-suspendproc %i", &suspend);
    if (result == kReadArgFailed) {
        DebugOut("         Error in argument: -suspendproc option failed.");
        ++options.failures;
    } else if (result == kReadArgPresent) {
        options.suspendMode = suspend;
    }
    platform::SetSuspendMode(options.suspendMode);

    result = ReadArg(argc, argv, "-help");
    if (result == kReadArgFailed) {
        DebugOut("         Error in argument: -help option failed.");
        ++options.failures;
    } else if (result == kReadArgPresent) {
        options.help = true;
        DebugOut(UsageText(true));
        DebugOut(kPressKeyText);
        return OptionsOutcome::WaitKeyAndExit;
    }

    if (options.failures != 0) {
        DebugOut(UsageText(false) + "\n");
        if (options.debugMask == 0) return OptionsOutcome::ExitNow;
        DebugOut(kPressKeyText);
        return OptionsOutcome::WaitKeyAndExit;
    }

    for (const auto& line : OptionsEchoBlock(options)) DebugOut(line);
    return OptionsOutcome::Run;
}

std::string JoinCommandLine(int argc, char* argv[], std::size_t limit) {
    std::string joined;
    for (int i = 0; i < argc && argv != nullptr && joined.size() < limit; ++i) {
        if (argv[i] != nullptr) joined += argv[i];
        joined += ' ';
    }
    if (joined.size() > limit) joined.resize(limit);
    return joined;
}
