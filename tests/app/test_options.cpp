// The command line: ReadArg's contract, the options the process reads from
// it with their defaults, and what it writes about them.

#include <gtest/gtest.h>

#include <QString>
#include <QtGlobal>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Options.h"
#include "SuspendMode.h"

namespace {

// argv built from words, with "zor" as argument 0.
class Argv {
  public:
    explicit Argv(std::vector<std::string> words) : m_words(std::move(words)) {
        m_words.insert(m_words.begin(), "zor");
        for (auto& w : m_words) m_ptrs.push_back(w.data());
        m_ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(m_words.size()); }
    char** argv() { return m_ptrs.data(); }

  private:
    std::vector<std::string> m_words;
    std::vector<char*> m_ptrs;
};

// Collects every Qt debug message the code under test writes.
class DebugCapture {
  public:
    DebugCapture() {
        s_messages.clear();
        m_previous = qInstallMessageHandler(&Handler);
    }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    const std::vector<std::string>& Messages() const { return s_messages; }

  private:
    static void Handler(QtMsgType, const QMessageLogContext&, const QString& text) {
        s_messages.push_back(text.toStdString());
    }
    static inline std::vector<std::string> s_messages;
    QtMessageHandler m_previous;
};

class ScopedLogName {
  public:
    explicit ScopedLogName(const std::optional<std::string>& value) {
        if (const char* old = std::getenv("ZOR_LOGNAME")) m_old = old;
        if (value)
            setenv("ZOR_LOGNAME", value->c_str(), 1);
        else
            unsetenv("ZOR_LOGNAME");
    }
    ~ScopedLogName() {
        if (m_old)
            setenv("ZOR_LOGNAME", m_old->c_str(), 1);
        else
            unsetenv("ZOR_LOGNAME");
    }

  private:
    std::optional<std::string> m_old;
};

struct OptionCase {
    const char* what;
    std::vector<std::string> words;
    std::optional<std::string> logName;  // ZOR_LOGNAME, unset when empty
    std::string name;
    int mask;
    std::string logFile;
    bool noConsole;
    int suspend;
};

const std::string kLong(100000, 'w');

const OptionCase kOptionCases[] = {
    {"no options", {}, std::nullopt, "ZOR", 0, "C:/temp/zorlog.txt", false, 0},
    {"no options, ZOR_LOGNAME", {}, "D:/logs/z.txt", "ZOR", 0, "D:/logs/z.txt", false, 0},
    {"debug 31", {"-debug", "31"}, std::nullopt, "ZOR", 31, "C:/temp/zorlog.txt", false, 0},
    {"debug wraps to a byte",
     {"-debug", "287"},
     std::nullopt,
     "ZOR",
     31,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"debug negative wraps",
     {"-debug", "-1"},
     std::nullopt,
     "ZOR",
     255,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"debug huge number",
     {"-debug", "99999999999999999999999"},
     std::nullopt,
     "ZOR",
     255,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"debug not a number",
     {"-debug", "abc"},
     std::nullopt,
     "ZOR",
     0,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"debug number prefix",
     {"-debug", "12abc"},
     std::nullopt,
     "ZOR",
     12,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"Debug is another word",
     {"-Debug", "31"},
     std::nullopt,
     "ZOR",
     0,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"debug last", {"-debug"}, std::nullopt, "ZOR", 0, "C:/temp/zorlog.txt", false, 0},
    {"name last", {"-debug", "1", "-name"}, std::nullopt, "ZOR", 1, "C:/temp/zorlog.txt", false, 0},
    {"logfile last", {"-logfile"}, std::nullopt, "ZOR", 0, "C:/temp/zorlog.txt", false, 0},
    {"logfile last, ZOR_LOGNAME", {"-logfile"}, "E:/z.log", "ZOR", 0, "E:/z.log", false, 0},
    {"logfile beats ZOR_LOGNAME",
     {"-logfile", "F:/a.txt"},
     "E:/z.log",
     "ZOR",
     0,
     "F:/a.txt",
     false,
     0},
    {"suspendproc 2",
     {"-suspendproc", "2"},
     std::nullopt,
     "ZOR",
     0,
     "C:/temp/zorlog.txt",
     false,
     2},
    {"suspendproc last", {"-suspendproc"}, std::nullopt, "ZOR", 0, "C:/temp/zorlog.txt", false, 0},
    {"every option",
     {"-name", "ZOR2", "-logfile", "/tmp/t.txt", "-noconsole", "-debug", "5", "-suspendproc", "3"},
     std::nullopt,
     "ZOR2",
     5,
     "/tmp/t.txt",
     true,
     3},
    {"first occurrence wins",
     {"-debug", "3", "-debug", "7"},
     std::nullopt,
     "ZOR",
     3,
     "C:/temp/zorlog.txt",
     false,
     0},
    // Every word is compared, value words included: "-debug" after -name is
    // both the name and the option.
    {"value word that is an option",
     {"-name", "-debug", "9"},
     std::nullopt,
     "-debug",
     9,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"stray words",
     {"hello", "--debug", "31", "-", "", "-noconsoleX"},
     std::nullopt,
     "ZOR",
     0,
     "C:/temp/zorlog.txt",
     false,
     0},
    {"over-long words",
     {"-name", kLong, kLong, "-logfile", kLong},
     kLong,
     kLong,
     0,
     kLong,
     false,
     0},
    {"over-long ZOR_LOGNAME", {}, kLong, "ZOR", 0, kLong, false, 0},
    {"empty ZOR_LOGNAME", {}, "", "ZOR", 0, "", false, 0},
};

}  // namespace

TEST(Options, TableOfCommandLines) {
    for (const auto& c : kOptionCases) {
        SCOPED_TRACE(c.what);
        ScopedLogName env(c.logName);
        DebugCapture capture;
        Argv args(c.words);
        ZorOptions options;
        platform::SetSuspendMode(-7);
        ASSERT_EQ(ReadOptions(args.argc(), args.argv(), options), OptionsOutcome::Run);
        EXPECT_EQ(options.name, c.name);
        EXPECT_EQ(options.debugMask, c.mask);
        EXPECT_EQ(options.logFile, c.logFile);
        EXPECT_EQ(options.noConsole, c.noConsole);
        EXPECT_EQ(options.suspendMode, c.suspend);
        EXPECT_EQ(platform::GetSuspendMode(), c.suspend);
        EXPECT_EQ(options.failures, 0);
        // The echo block is all that is written on a good command line.
        EXPECT_EQ(capture.Messages(), OptionsEchoBlock(options));
    }
}

TEST(Options, EchoBlockLines) {
    struct EchoCase {
        std::vector<std::string> words;
        std::optional<std::string> logName;
        std::vector<std::string> expected;
    };
    const std::string rule = "------------------------------------------------------------";
    auto block = [&](const char* name, const char* mask, const char* suspend, const char* file,
                     const char* noConsole) {
        return std::vector<std::string>{
            rule,
            "- Command Line Options (default values if not set)",
            rule,
            std::string("- Process Name              : ") + name,
            std::string("- Debug                     : ") + mask,
            std::string("- Suspend Process           : ") + suspend,
            std::string("- Log file                  : ") + file,
            std::string("- noconsole                 : ") + noConsole,
            rule,
        };
    };
    const EchoCase cases[] = {
        {{}, std::nullopt, block("ZOR", "0x0", "0", "C:/temp/zorlog.txt", "0")},
        {{}, "G:/g.txt", block("ZOR", "0x0", "0", "G:/g.txt", "0")},
        {{"-debug", "31"}, std::nullopt, block("ZOR", "0x1f", "0", "C:/temp/zorlog.txt", "0")},
        {{"-debug", "287"}, std::nullopt, block("ZOR", "0x1f", "0", "C:/temp/zorlog.txt", "0")},
        {{"-suspendproc", "2", "-noconsole", "-name", "Z"},
         std::nullopt,
         block("Z", "0x0", "2", "C:/temp/zorlog.txt", "1")},
    };
    for (const auto& c : cases) {
        ScopedLogName env(c.logName);
        DebugCapture capture;
        Argv args(c.words);
        ZorOptions options;
        ReadOptions(args.argc(), args.argv(), options);
        EXPECT_EQ(capture.Messages(), c.expected);
    }
}

TEST(Options, HelpWritesDebugUsageAndAsksForAKey) {
    DebugCapture capture;
    Argv args({"-debug", "31", "-help"});
    ZorOptions options;
    EXPECT_EQ(ReadOptions(args.argc(), args.argv(), options), OptionsOutcome::WaitKeyAndExit);
    EXPECT_TRUE(options.help);
    const std::vector<std::string> expected = {
        "\nUsage for debug:"
        "\n\t[-name \"ZOR process name\" Name of the ZOR process]"
        "\n\t[-debug arg               Arg sum of selected elem:"
        "\n\t                          1=Trans, 2=Sig, 4=Job, 8=Data, 16=Timers, 31=All]"
        "\n\t[-suspendproc arg         Arg sum of selected elem:"
        "\n\t                          0=Disabled (default), 1=Suspend All, 2=Suspend XDRZ, "
        "3=Suspend DRZ]"
        "\n\t[-logfile \"file name\"     Use to log to file]"
        "\n\t[-noconsole               Use to turn off logging to console]",
        "\n\nPlease press a key to close down program.\n",
    };
    EXPECT_EQ(capture.Messages(), expected);
}

TEST(Options, ShortUsageDiffersInHeaderAndDebugLine) {
    const std::string debug = UsageText(true);
    std::string shortText = UsageText(false);
    EXPECT_EQ(shortText.rfind("\nUsage:\n\t[-name", 0), 0u);
    EXPECT_NE(shortText.find("\n\t[-debug arg               Arg is sum of selected choices:\n"),
              std::string::npos);
    // Apart from those two pieces the texts are the same.
    shortText.replace(0, 7, "\nUsage for debug:");
    const std::string from = "Arg is sum of selected choices:";
    shortText.replace(shortText.find(from), from.size(), "Arg sum of selected elem:");
    EXPECT_EQ(shortText, debug);
}

TEST(ReadArg, FindsOptionsAndConvertsValues) {
    Argv args({"-c", "300", "-d", "2.5", "-i", "-42", "-l", "123456789012", "-x", "ff", "-s",
               "text", "-two", "7", "8"});
    unsigned char c = 0;
    double d = 0;
    int i = 0;
    long l = 0;
    int x = 0;
    char* s = nullptr;
    int a = 0, b = 0;
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-c %c", &c), kReadArgPresent);
    EXPECT_EQ(c, 300 % 256);
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-d %d", &d), kReadArgPresent);
    EXPECT_DOUBLE_EQ(d, 2.5);
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-i %i", &i), kReadArgPresent);
    EXPECT_EQ(i, -42);
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-l %l", &l), kReadArgPresent);
    EXPECT_EQ(l, 123456789012L);
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-x %x", &x), kReadArgPresent);
    EXPECT_EQ(x, 255);
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-s %s", &s), kReadArgPresent);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s, args.argv()[12]);  // the word itself, not a copy
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-two %i %i", &a, &b), kReadArgPresent);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 8);
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-absent %i", &a), kReadArgAbsent);
    // Argument 0 is never an option.
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "zor-prog"), kReadArgAbsent);
}

TEST(ReadArg, MissingValueWordsCountAsAbsentButKeepEarlierValues) {
    Argv args({"-two", "5"});
    int a = 0, b = -1;
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-two %i %i", &a, &b), kReadArgAbsent);
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, -1);
}

TEST(ReadArg, FaultyFormatsFailWithTheirTexts) {
    Argv args({"-x", "1", "2"});
    int a = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "no dash %i", &a), kReadArgFailed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n\nReadArg: Missing '-' in call argument.\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-x %i %q", &a, &a), kReadArgFailed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n\nReadArg: Faulty unnamed argument type\n");
    EXPECT_EQ(a, 1);  // the value stored before the faulty letter remains

    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadArg(args.argc(), args.argv(), "-x %"), kReadArgFailed);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Faulty unnamed argument type"),
              std::string::npos);

    EXPECT_EQ(ReadArg(0, nullptr, "-x"), kReadArgAbsent);
}

TEST(CommandLine, JoinedWithBlanksAndCutAt1000) {
    Argv shortArgs({"-debug", "31"});
    EXPECT_EQ(JoinCommandLine(shortArgs.argc(), shortArgs.argv()), "zor -debug 31 ");

    Argv longArgs({std::string(600, 'a'), std::string(600, 'b')});
    const std::string joined = JoinCommandLine(longArgs.argc(), longArgs.argv());
    ASSERT_EQ(joined.size(), 1000u);
    EXPECT_EQ(joined,
              ("zor " + std::string(600, 'a') + " " + std::string(600, 'b')).substr(0, 1000));
}
