// The real zor binary with its sounder handlers on the demo suite, the
// simulated DRZ and XDRZ programs and the operator's zorctl: the start list,
// the exact command lines and ports, the greetings, the logging sentences
// byte for byte, the relays both ways, the handlers' end by 19, 702 and 24,
// the suspend modes, and the faults (missing rows and programs, a crashed
// DRZ, a peer that never quits). Runs in PID and network namespaces.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QProcess>
#include <chrono>

#include "ControlTestSupport.h"
#include "ZorOnDemoSuite.h"

namespace fs = std::filesystem;
using namespace controltest;
using zortest::CommandLines;
using zortest::Processes;
using zortest::ReadFile;
using Lines = std::vector<std::string>;

namespace {

const std::string kSuite = ZOR_SUITE_DIR;
// Journal lines are escaped: "\n" is written as the two characters \ n.
const std::string kGreeting = R"($ZQPEL,6,\n\r)";
const std::string kQuit = R"($ZQPEL,24,\n\r)";

struct Peer {
    const char* image;
    uint16_t port;
};
const Peer kDrz1{"drzdist.exe", 23242}, kXdrz1{"XDRZ.exe", 23243}, kDrz2{"drzdist.exe", 12061},
    kXdrz2{"XDRZ.exe", 12062};
const Peer kAllPeers[] = {kDrz1, kXdrz1, kDrz2, kXdrz2};

// A journal line against its pattern: '#' stands for one decimal digit, all
// else is itself (journals never hold '#' where a pattern has one).
bool Matches(const std::string& line, const std::string& pattern) {
    if (line.size() != pattern.size()) return false;
    for (size_t i = 0; i < line.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (pattern[i] == '#' ? !digit : line[i] != pattern[i]) return false;
    }
    return true;
}

class ZorWithHandlers : public zortest::ZorOnDemoSuite {
  protected:
    // zor is up once the auxiliary processes are: the controller supervises.
    void Start(const QStringList& more = {}) {
        ZorOnDemoSuite::Start(more);
        ASSERT_TRUE(TraceHas("Startet SVP Logger RS2UDP process", 20000));
    }
    size_t Count(const std::string& needle) {
        const std::string trace = Trace();
        size_t n = 0;
        for (size_t at = trace.find(needle); at != std::string::npos;
             at = trace.find(needle, at + 1))
            ++n;
        return n;
    }

    // The operator's tool; its exit status.
    int Zorctl(const QStringList& words) {
        QProcess ctl;
        ctl.start(ZORCTL_BINARY, words);
        if (!ctl.waitForFinished(10000)) return -1;
        return ctl.exitCode();
    }

    // A peer's journal lines without their time stamps.
    Lines Journal(const Peer& peer) {
        Lines lines;
        std::stringstream in(ReadFile(run.WorkDir() / (std::string(peer.image) + "." +
                                                       std::to_string(peer.port) + ".journal")));
        for (std::string line; std::getline(in, line);) {
            const size_t blank = line.find(' ');
            lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
        }
        return lines;
    }
    bool JournalHas(const Peer& peer, const std::string& line, int ms = 10000) {
        return Eventually(
            [&] {
                const Lines j = Journal(peer);
                return std::find(j.begin(), j.end(), line) != j.end();
            },
            ms);
    }
    // Waits until the journal holds `patterns.size()` lines after `from`, then
    // checks each against its pattern (see Matches).
    void ExpectJournal(const Peer& peer, size_t from, const Lines& patterns) {
        SCOPED_TRACE(std::string(peer.image) + " " + std::to_string(peer.port));
        EXPECT_TRUE(Eventually([&] { return Journal(peer).size() >= from + patterns.size(); }));
        // Nothing more arrives that should not.
        EXPECT_FALSE(
            Eventually([&] { return Journal(peer).size() > from + patterns.size(); }, 300));
        const Lines j = Journal(peer);
        for (size_t i = 0; i < patterns.size() && from + i < j.size(); ++i)
            EXPECT_TRUE(Matches(j[from + i], patterns[i]))
                << j[from + i] << "\n  does not match  " << patterns[i];
    }
    bool Running(const Peer& peer) {
        for (const auto& [pid, line] : Processes(peer.image))
            if (line.find("--port " + std::to_string(peer.port)) != std::string::npos) return true;
        return false;
    }
    void DumpAll() {
        for (const Peer& p : kAllPeers) {
            std::cout << "== " << p.image << " " << p.port << "\n";
            for (const auto& l : Journal(p)) std::cout << l << "\n";
        }
        std::cout << "== trace\n" << Trace() << "== stderr\n" << run.Stderr();
    }
};

TEST_F(ZorWithHandlers, StartListLoggingRelaysAndTheirEnd) {
    // The DRZ of 1602_60 answers sentence 60 with 39 to its handler's port.
    Sql("UPDATE distribution_process SET argument_str = argument_str || "
        "' --answer $ZQPEL,60,1602_60* $ZQPEL,39,1602_60,ready\\n\\r' WHERE id = 3");
    CInbox gui(4002);
    Start();

    // A duplicate, an unknown type and a ";name" suffix.
    const auto listed = Clock::now();
    ASSERT_EQ(Zorctl({"start-list", "1302_221;Deep", "1602_60", "1302_221", "9999_1"}), 0);
    for (const Peer& p : kAllPeers) EXPECT_TRUE(JournalHas(p, kGreeting, 15000)) << p.port;
    EXPECT_GE(Clock::now() - listed, std::chrono::milliseconds(3900));
    EXPECT_EQ(CommandLines("drzdist.exe"),
              (Lines{kSuite + "/drzdist.exe -name DRZ_1302_221 --port 23242 --answer-to 23244 "
                              "-soundertype 4",
                     kSuite + "/drzdist.exe -name DRZ_1602_60 --port 12061 --answer-to 12063 "
                              "--answer $ZQPEL,60,1602_60* $ZQPEL,39,1602_60,ready\\n\\r "
                              "-soundertype 4"}));
    EXPECT_EQ(CommandLines("XDRZ.exe"),
              (Lines{kSuite + "/XDRZ.exe -name XDRZ_1302_221 --port 23243 --answer-to 23244",
                     kSuite + "/XDRZ.exe -name XDRZ_1602_60 --port 12062 --answer-to 12063"}));
    // Both handler ports are held by the handlers.
    EXPECT_TRUE(TraceHas("XDRZ Receive port is 127.0.0.1:12062"));

    // Logging, stop pinging and the survey change, with and without the
    // label flag; then TIDE to every XDRZ, and the relays.
    for (const QStringList& words :
         {QStringList{"log-start", "1302_221", "12"},
          QStringList{"log-start", "1602_60", "7", "--label"},
          QStringList{"log-stop", "1302_221", "12345"},
          QStringList{"stop-ping", "1602_60", "--label"}, QStringList{"stop-ping", "1302_221"},
          QStringList{"survey-change", "1302_221"}, QStringList{"send", "$PTIDE,1.23,M\\r\\n"},
          QStringList{"send", "$ZQPEL,471,a,1302,221\\n\\r"},
          QStringList{"send", "$ZQPEL,473,1602,60\\n\\r"},
          QStringList{"send", "$PXR20,x=1602\\r\\n"},
          QStringList{"send", "$ZQPEL,60,1602_60,x\\n\\r"}})
        ASSERT_EQ(Zorctl(words), 0) << words.join(' ').toStdString();
    // The raw-data root of the demo data, the sounder's survey, the counter;
    // 1302 with the date and time, the known model 1602 with placeholders
    // its DRZ fills in.
    const std::string root = (run.WorkDir() / "rawdata").string() + "/";
    const std::string stamp = "_########_######_Demo_Surveyor";
    const std::string placeholders =
        "__TOKYEAR__TOKMONTH__TOKDAY___TOKHOUR__TOKMIN__TOKSEC__Demo_Surveyor";
    const std::string ok = R"(.vmall\n\r)";
    ExpectJournal(kDrz1, 1,
                  {"$ZQPEL,1,12," + root + "NorthBank/0012" + stamp + ok,
                   "$ZQPEL,25,12345," + root + "NorthBank/12345" + ok, R"($ZQPEL,7,\n\r)",
                   kGreeting, R"($ZQPEL,471,a,1302,221\n\r)"});
    ExpectJournal(kXdrz1, 1,
                  {R"($ZQPEL,7,\n\r)", R"($PTIDE,1.23,M\r\n)", R"($ZQPEL,471,a,1302,221\n\r)"});
    ExpectJournal(
        kDrz2, 1,
        {"$ZQPEL,1,7," + root + "HarbourApproach/0007" + placeholders + ok, R"($ZQPEL,7,\n\r)",
         R"($ZQPEL,473,1602,60\n\r)", R"($PXR20,x=1602\r\n)", R"($ZQPEL,60,1602_60,x\n\r)"});
    ExpectJournal(
        kXdrz2, 1,
        {R"($ZQPEL,756,\n\r)", R"($ZQPEL,7,\n\r)", R"($ZQPEL,756,\n\r)", R"($PTIDE,1.23,M\r\n)"});
    // 39 comes back through the handler and the controller to the GUI.
    EXPECT_EQ(gui.Next(), std::optional<std::string>("$ZQPEL,39,1602_60,ready\n\r"));

    // 19 ends one handler and its processes; 702 the other.
    ASSERT_EQ(Zorctl({"send", "$ZQPEL,19,1302_221,\\n\\r"}), 0);
    EXPECT_TRUE(Eventually([&] { return !Running(kDrz1) && !Running(kXdrz1); }, 25000));
    EXPECT_EQ(Journal(kXdrz1).back(), kQuit);
    EXPECT_EQ(Journal(kDrz1).back(), kQuit);
    EXPECT_TRUE(Running(kDrz2) && Running(kXdrz2));
    ASSERT_EQ(Zorctl({"terminate-handlers"}), 0);
    EXPECT_TRUE(Eventually([&] { return !Running(kDrz2) && !Running(kXdrz2); }, 25000));
    EXPECT_EQ(Journal(kDrz2).back(), kQuit);

    // Both start again; sentence 24 ends both handlers, which tell their
    // processes to quit before anything is killed, and then ZOR.
    std::map<uint16_t, size_t> before;
    for (const Peer& p : kAllPeers) before[p.port] = Journal(p).size();
    ASSERT_EQ(Zorctl({"start-list", "1302_221", "1602_60"}), 0);
    for (const Peer& p : kAllPeers)
        EXPECT_TRUE(Eventually([&] { return Journal(p).size() > before[p.port]; }, 15000));
    ASSERT_TRUE(TraceHas("XDRZ Receive port is 127.0.0.1:12062"));
    StopLeftovers();
    const auto shutdown = Clock::now();
    const size_t endedBefore = Count("ZORHandl terminates.");
    ASSERT_EQ(Zorctl({"shutdown"}), 0);
    // The handlers' deletion blocks the controller's worker: measured from
    // the sentence to the second handler's last trace line.
    EXPECT_TRUE(Eventually([&] { return Count("ZORHandl terminates.") == endedBefore + 2; }));
    const auto deleted = Clock::now();
    EXPECT_EQ(ExitCode(), 0) << run.Stderr();
    auto ms = [&](Clock::time_point t) {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(t - shutdown).count());
    };
    RecordProperty("handlers_deleted_ms", ms(deleted));
    RecordProperty("zor_ended_ms", ms(Clock::now()));
    std::cout << "sentence 24 with two handlers: handlers deleted after " << ms(deleted)
              << " ms, zor ended after " << ms(Clock::now()) << " ms\n";
    for (const Peer& p : kAllPeers) {
        EXPECT_EQ(Journal(p).back(), kQuit) << p.port;
        EXPECT_FALSE(Running(p)) << p.port;
    }
    // Each handler saw its processes end by themselves: after 19, 702 and
    // the two at the end.
    EXPECT_EQ(Count("Processes started by ZORHandl terminated OK."), 4u);
}

// Missing rows and a missing DRZ program, one after the other in one ZOR:
// each ends its handler (the next start list of the same sounder makes a
// new one), starts nothing and leaves its message. Then a DRZ that crashes
// after the start, and a peer that never quits on 24.
TEST_F(ZorWithHandlers, FaultsEndTheHandlerOrAreSurvived) {
    Sql("CREATE TABLE saved_dp AS SELECT * FROM distribution_process;"
        "CREATE TABLE saved_p AS SELECT * FROM process;");
    CInbox gui(4002);
    Start();
    const struct {
        const char* what;
        const char* fault;
        const char* message;
    } cases[] = {
        {"DRZ row", "DELETE FROM distribution_process WHERE id = 1",
         "455 DRZ process parameters could not be read for echo sounder type 1302, serial number "
         "221."},
        {"XDRZ row", "DELETE FROM distribution_process WHERE id = 2",
         "456 XDRZ process parameters could not be read for echo sounder type 1302, serial "
         "number 221."},
        {"DRZ parameter row", "UPDATE process SET processname = 'drz_1302_221' WHERE pid = 101",
         "461 DRZ raw-data parameters could not be read for echo sounder type 1302, serial "
         "number 221."},
        {"DRZ program",
         "UPDATE distribution_process SET path = '/nonexistent/drzdist.exe' "
         "WHERE id = 1",
         "466 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sql(c.fault);
        ASSERT_EQ(Zorctl({"start-list", "1302_221"}), 0);
        EXPECT_TRUE(Eventually([&] {
            const Lines m = Messages();
            return std::any_of(m.begin(), m.end(), [&](const std::string& row) {
                return row.rfind(c.message, 0) == 0;
            });
        })) << testing::PrintToString(Messages());
        EXPECT_TRUE(Eventually(
            [&] { return Count("ZORHandl terminates.") == static_cast<size_t>(&c - cases) + 1; }));
        EXPECT_TRUE(CommandLines("drzdist.exe").empty());
        EXPECT_TRUE(CommandLines("XDRZ.exe").empty());
        Sql("DELETE FROM distribution_process; INSERT INTO distribution_process SELECT * FROM "
            "saved_dp; DELETE FROM process; INSERT INTO process SELECT * FROM saved_p;");
    }

    // Started again; its DRZ crashes. The relays to the XDRZ go on.
    ASSERT_EQ(Zorctl({"start-list", "1302_221"}), 0);
    ASSERT_TRUE(JournalHas(kXdrz1, kGreeting, 15000));
    for (const auto& [pid, line] : Processes("drzdist.exe")) ::kill(pid, SIGKILL);
    ASSERT_TRUE(Eventually([&] { return !Running(kDrz1); }));
    EXPECT_TRUE(Running(kXdrz1));
    for (const QStringList& words :
         {QStringList{"log-start", "1302_221", "3"}, QStringList{"stop-ping", "1302_221"},
          QStringList{"send", "$ZQPEL,471,a,1302,221\\n\\r"},
          QStringList{"send", "$PTIDE,after\\r\\n"}})
        ASSERT_EQ(Zorctl(words), 0);
    EXPECT_TRUE(JournalHas(kXdrz1, R"($PTIDE,after\r\n)"));
    EXPECT_EQ(Trace().find("ZPEL_ACTIVE     --> CLOSEDOWN"), std::string::npos);
    // ZOR still answers (after the notes "$ZQPEL,32" of the messages above).
    SendUdp("$ZQPEL,100,\n\r", 4001);
    EXPECT_TRUE(Eventually([&] { return gui.Next(0) == "$ZQPEL,101,\n\r"; }));
    // Its end: the XDRZ is told to quit, the dead DRZ does not hold it up.
    ASSERT_EQ(Zorctl({"send", "$ZQPEL,19,1302_221,\\n\\r"}), 0);
    EXPECT_TRUE(Eventually([&] { return !Running(kXdrz1); }));
    EXPECT_EQ(Journal(kXdrz1).back(), kQuit);
    EXPECT_TRUE(TraceHas("Processes started by ZORHandl terminated OK."));

    // The XDRZ of 1602_60 stays when told to quit: its handler gives up
    // after 20 s, ZOR ends with 0 and the leftover is killed at the very end.
    Sql("UPDATE distribution_process SET argument_str = argument_str || ' --stay' WHERE id = 4");
    ASSERT_EQ(Zorctl({"start-list", "1602_60"}), 0);
    ASSERT_TRUE(JournalHas(kXdrz2, kGreeting, 15000));
    StopLeftovers();
    const auto shutdown = Clock::now();
    ASSERT_EQ(Zorctl({"shutdown"}), 0);
    EXPECT_EQ(ExitCode(60000), 0) << run.Stderr();
    const auto took = Clock::now() - shutdown;
    RecordProperty(
        "stay_shutdown_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    std::cout << "sentence 24 with a peer that never quits: zor ended after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    EXPECT_GE(took, std::chrono::milliseconds(19900));
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(Journal(kXdrz2).back(), kQuit);
    EXPECT_EQ(Journal(kDrz2).back(), kQuit);
    EXPECT_TRUE(Eventually([&] { return !Running(kXdrz2); }));
    EXPECT_NE(Trace().find("Error: Processes started by ZORHandl not terminated correctly."),
              std::string::npos);
    if (HasFailure()) DumpAll();
}

// "-suspendproc": which of DRZ and XDRZ start; the handler greets both
// ports all the same (a socket of the test stands in where none runs).
class SuspendedZor : public ZorWithHandlers, public testing::WithParamInterface<int> {};

TEST_P(SuspendedZor, StartsWhatTheModeAllows) {
    const int mode = GetParam();
    const bool drz = mode == 2, xdrz = mode == 3;
    std::unique_ptr<CInbox> drzInbox, xdrzInbox;
    if (!drz) drzInbox = std::make_unique<CInbox>(23242);
    if (!xdrz) xdrzInbox = std::make_unique<CInbox>(23243);
    Start({"-suspendproc", QString::number(mode)});
    ASSERT_EQ(Zorctl({"start-list", "1302_221"}), 0);
    const std::optional<std::string> greeting("$ZQPEL,6,\n\r");
    if (drzInbox) {
        EXPECT_EQ(drzInbox->Next(15000), greeting);
    } else {
        EXPECT_TRUE(JournalHas(kDrz1, kGreeting, 15000));
    }
    if (xdrzInbox) {
        EXPECT_EQ(xdrzInbox->Next(15000), greeting);
    } else {
        EXPECT_TRUE(JournalHas(kXdrz1, kGreeting, 15000));
    }
    EXPECT_EQ(CommandLines("drzdist.exe").size(), drz ? 1u : 0u);
    EXPECT_EQ(CommandLines("XDRZ.exe").size(), xdrz ? 1u : 0u);
    if (HasFailure()) DumpAll();
    StopLeftovers();
    ASSERT_EQ(Zorctl({"shutdown"}), 0);
    EXPECT_EQ(ExitCode(), 0) << run.Stderr();
}

INSTANTIATE_TEST_SUITE_P(Modes, SuspendedZor, testing::Values(1, 2, 3));

}  // namespace
