// The controller's auxiliary processes against the demo suite database and
// the simulated peers: the command lines each launch gives, the process ids
// registered, the trace lines and operator messages of every failure, the
// greetings, and the restart steps of the tide and keel bridges.
// Runs in its own PID and network namespace (fixed ports, kills by image
// name).
#include <AuxProcesses.h>
#include <DBoperations.h>
#include <Environment.h>
#include <FsmSignal.h>
#include <IoThread.h>
#include <Messages.h>
#include <Paths.h>
#include <Process.h>
#include <Sender.h>
#include <SuiteDb.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using zortest::SuiteDb;
using Process = CAuxProcesses::Process;
using Bridge = CAuxProcesses::Bridge;
using Clock = std::chrono::steady_clock;

const std::string kSuiteDir = ZOR_SUITE_DIR;

// The I/O context every send of the test program goes through: the
// process-wide sender keeps the first context it was given.
std::shared_ptr<boost::asio::io_context> Io() {
    static auto context = std::make_shared<boost::asio::io_context>();
    static ua::sockudp::io_thread thread(context);
    static bool started = (thread.start(), true);
    (void)started;
    return context;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// The argument words of a running process.
std::vector<std::string> ArgvOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> words;
    for (std::string w; std::getline(in, w, '\0');) words.push_back(w);
    return words;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Waits (bounded) until the file exists and contains `needle`.
bool WaitForText(const fs::path& path, const std::string& needle, int ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    do {
        if (fs::exists(path) && ReadText(path).find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return false;
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

// A UDP socket on 127.0.0.1:<port> with a receive time limit.
class UdpSink {
  public:
    explicit UdpSink(uint16_t port) : m_socket(m_context, boost::asio::ip::udp::v4()) {
        m_socket.bind({boost::asio::ip::address_v4::loopback(), port});
        timeval limit{5, 0};
        setsockopt(m_socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    // The next datagram, or "" after 5 s.
    std::string Next() {
        char buffer[512];
        boost::system::error_code error;
        const size_t n = m_socket.receive(boost::asio::buffer(buffer), 0, error);
        return error ? std::string() : std::string(buffer, n);
    }

  private:
    boost::asio::io_context m_context;
    boost::asio::ip::udp::socket m_socket;
};

void SendText(const std::string& text, uint16_t port) {
    SendPayload(CPELSignal(0, CFsmPayload::Copy(text)), "127.0.0.1:" + std::to_string(port), Io());
}

const char* const kPeerImages[] = {"RStoUDP.exe", "Tandlog.exe",   "Kestlog.exe",
                                   "Morvlog.exe", "VMBLogger.exe", "KESTLOG.EXE"};

class AuxProcessesTest : public ::testing::Test {
  protected:
    AuxProcessesTest()
        : m_suite(SuiteDb::Options{true}),
          m_path("PATH", kSuiteDir + ":" + platform::GetEnv("PATH")),
          m_db("auxtest") {
        // The demo rows name the suite programs' folder of an installation;
        // here the simulated peers of the build stand in.
        const std::string from = SuiteDb::DemoBinFolder();
        for (const char* update :
             {"UPDATE rs2udp_parameters SET rs_path = replace(rs_path, '%1', '%2')",
              "UPDATE ath_proc_param SET ath_path = replace(ath_path, '%1', '%2')",
              "UPDATE srh_proc_param SET srh_path = replace(srh_path, '%1', '%2')",
              "UPDATE terratec_proc_param SET terratec_path = "
              "replace(terratec_path, '%1', '%2')"}) {
            std::string sql = update;
            sql.replace(sql.find("%1"), 2, from);
            sql.replace(sql.find("%2"), 2, kSuiteDir);
            m_suite.Exec(sql);
        }
        platform::UnsetEnv("VMBLOG");
        m_messages.setDbOperations(&m_db);
        EXPECT_EQ(m_db.connectDatabase(SuiteDb::kDsn, SuiteDb::kUser, SuiteDb::kPassword, nullptr),
                  0);
        m_messages.initCatalogue();
        m_aux = MakeAux();
    }

    ~AuxProcessesTest() override {
        // Whatever a case left running ends here, so that the next case
        // finds the ports free.
        for (const char* image : kPeerImages) platform::KillImage(image);
        if (m_aux) m_aux->Processes().WaitAll(std::chrono::seconds(5));
        m_other.WaitAll(std::chrono::seconds(5));
    }

    std::unique_ptr<CAuxProcesses> MakeAux() {
        CAuxContext context;
        context.db = &m_db;
        context.messages = &m_messages;
        context.tokenInt = [this](const std::string& name) {
            return name == CAuxProcesses::kTokenInitStartDisable ? m_initStartDisable : 0;
        };
        context.traceData = [this](const std::string& line) { m_data.push_back(line); };
        context.traceJob = [this](const std::string& line) { m_jobs.push_back(line); };
        auto aux = std::make_unique<CAuxProcesses>(std::move(context));
        aux->SetIoContext(Io());
        return aux;
    }

    bool Traced(const std::string& line) const {
        return std::find(m_data.begin(), m_data.end(), line) != m_data.end();
    }
    std::string AllData() const {
        std::string all;
        for (const auto& line : m_data) all += line + "|";
        return all;
    }
    long long Messages(int number) const {
        return m_suite.QueryInt("SELECT count(*) FROM arrivedMessages WHERE number = " +
                                std::to_string(number));
    }
    // The pid registered under the name, or 0 when there is no row.
    long long Registered(const std::string& name) const {
        const auto rows =
            m_suite.Query("SELECT pid FROM pid_list WHERE proc_name = '" + name + "'");
        return rows.size() == 1 ? std::stoll(rows[0][0]) : 0;
    }
    // The journal a UDP peer keeps in the working folder for its port.
    static fs::path Journal(const std::string& image, uint16_t port) {
        return fs::current_path() / (image + "." + std::to_string(port) + ".journal");
    }
    void WriteBridgeScript(const std::string& body) {
        const fs::path script = fs::current_path() / "bridge.sh";
        std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(script, fs::perms::owner_all);
        m_suite.Exec("UPDATE rs2udp_parameters SET rs_path = '" + script.string() + "'");
    }

    SuiteDb m_suite;
    platform::ScopedEnv m_path;
    CDBoperations m_db;
    CMessages m_messages;
    int m_initStartDisable = 0;
    std::vector<std::string> m_data;
    std::vector<std::string> m_jobs;
    platform::ProcessManager m_other;  // processes the test starts itself
    std::unique_ptr<CAuxProcesses> m_aux;
};

// ---- launches -------------------------------------------------------------------

TEST_F(AuxProcessesTest, EachLaunchGivesItsCommandLineRegistrationAndTrace) {
    struct Case {
        const char* what;
        std::function<void(CAuxProcesses&)> start;
        Process process;
        std::string commandLine;  // first word compared by file name
        const char* registered;   // "" when not registered
        std::string startedLine;  // a bridge's without its pid
        std::string image;
        uint16_t port;  // where the peer listens
    };
    m_aux->SetAddresses();
    m_aux->DeriveKeelInputPort();
    m_aux->AllocateBridgePorts();  // keel 5000, then tide 5010
    const std::string bin = kSuiteDir + "/";
    const Case cases[] = {
        {"tide bridge", [](CAuxProcesses& a) { a.StartTideBridge(); }, Process::TideBridge,
         bin + "RStoUDP.exe -com COM5,9600,8,N,1 -udpout 4001 -confsock 5010", "RStoUDP_TIDE",
         "\n\tStartet the Realtime Tide RS2UDP process with, pid: ", "RStoUDP.exe", 5010},
        {"keel bridge", [](CAuxProcesses& a) { a.StartKeelBridge(); }, Process::KeelBridge,
         bin + "RStoUDP.exe -com COM3,9600,8,N,1 -udpin 5601 -confsock 5000", "RStoUDP_KEEL",
         "\n\tStartet the Depth Below Keel RS2UDP process with pid: ", "RStoUDP.exe", 5000},
        {"SVP logger bridge", [](CAuxProcesses& a) { a.StartSvpLoggerBridge(); },
         Process::SvpLoggerBridge,
         bin +
             "RStoUDP.exe -com COM4,4800,8,N,1 -udpin 5057 -udpout1 localhost,5058 -confsock 5056",
         "RStoUDP_Logger", "\n\tStartet SVP Logger RS2UDP process with pid: ", "RStoUDP.exe", 5056},
        {"APPLANIX_CTRL", [](CAuxProcesses& a) { a.StartApplanixCtrl(); }, Process::ApplanixCtrl,
         bin + "Tandlog.exe -name APPLANIX -role applanix", "APPLANIX_CTRL",
         "\n\tInfo: APPLANIX_CTRL process started \n", "Tandlog.exe", 5071},
        {"SRH logger", [](CAuxProcesses& a) { a.StartSrhLogger(); }, Process::SrhLogger,
         bin + "Tandlog.exe -name VORANTE_CTRL -role srh", "SRHLOGGER",
         "\n\tInfo: SRHLOGGER process started \n", "Tandlog.exe", 5076},
        {"RTCM logger", [](CAuxProcesses& a) { a.StartRtcmLogger(false); }, Process::RtcmLogger,
         bin + "Kestlog.exe -name RTCMLOGGER -role rtcm", "RTCMLOGGER",
         "\n\tInfo: RTCMLOGGER process started \n", "Kestlog.exe", 5081},
        {"IMU logger", [](CAuxProcesses& a) { a.StartImuLogger(); }, Process::ImuLogger,
         "Morvlog.exe -name IMULOGGER ", "", "\n\tInfo: IMULOGGER process started \n",
         "Morvlog.exe", 5083},
        {"VMB logger", [](CAuxProcesses& a) { a.StartVmbLogger(); }, Process::VmbLogger,
         "VMBLogger.exe -name VMBLOGGER ", "VMBLOGGER", "\n\tInfo: VMBLOGGER process started \n",
         "VMBLogger.exe", 5093},
        {"SPO logger", [](CAuxProcesses& a) { a.StartSpoLogger(); }, Process::SpoLogger,
         "Tandlog.exe -name SPOLOGGER ", "SPOLOGGER", "\n\tInfo: SPOLOGGER process started \n",
         "Tandlog.exe", 5094},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_data.clear();
        c.start(*m_aux);
        const int pid = m_aux->Pid(c.process);
        ASSERT_GT(pid, 0) << AllData();
        // The peer journals once it has bound the port its command line
        // gives it; it stays up until told to quit.
        ASSERT_TRUE(WaitForText(Journal(c.image, c.port), "")) << AllData();
        std::vector<std::string> argv = ArgvOf(pid);
        std::vector<std::string> expected = Words(c.commandLine);
        ASSERT_FALSE(argv.empty());
        EXPECT_EQ(fs::path(argv[0]).filename(), fs::path(expected[0]).filename());
        argv.erase(argv.begin());
        expected.erase(expected.begin());
        EXPECT_EQ(argv, expected);
        if (*c.registered != '\0') {
            EXPECT_EQ(Registered(c.registered), pid);
        } else {
            EXPECT_EQ(m_suite.QueryInt("SELECT count(*) FROM pid_list WHERE pid = " +
                                       std::to_string(pid)),
                      0);
        }
        // A bridge's line ends in its pid and a full stop.
        const bool bridge = c.startedLine.back() == ' ';
        EXPECT_TRUE(Traced(bridge ? c.startedLine + std::to_string(pid) + "." : c.startedLine))
            << AllData();
        SendText("$ZQPEL,24,\n\r", c.port);
        EXPECT_EQ(m_aux->Processes().Wait(pid, std::chrono::seconds(5)), pid);
    }
}

TEST_F(AuxProcessesTest, BridgeTraceLinesCarryTheCommandLineAndPid) {
    m_aux->AllocateBridgePorts();
    m_aux->StartTideBridge();
    const int pid = m_aux->Pid(Process::TideBridge);
    ASSERT_GT(pid, 0);
    const std::string line =
        kSuiteDir + "/RStoUDP.exe -com COM5,9600,8,N,1 -udpout 4001 -confsock 5010";
    ASSERT_EQ(m_data.size(), 2u) << AllData();
    EXPECT_EQ(m_data[0], "\n\t Realtime Tide RStoUDP argument:  " + line + "\n");
    EXPECT_EQ(m_data[1], "\n\tStartet the Realtime Tide RS2UDP process with, pid: " +
                             std::to_string(pid) + ".");
    EXPECT_EQ(m_aux->TideComParams(), "COM5,9600,8,N,1");
}

TEST_F(AuxProcessesTest, KeelInputPortComesFromTheDptReadSocket) {
    m_aux->DeriveKeelInputPort();
    EXPECT_EQ(m_aux->KeelPorts().inPort, 5601);
    // One job line per socket record of the generic vessel-sensor process.
    EXPECT_EQ(m_jobs, std::vector<std::string>(3, "SetSocketData"));

    // Without a "DPT" process no record matches.
    auto other = MakeAux();
    m_suite.Exec("DELETE FROM process WHERE processname = 'DPT'");
    other->DeriveKeelInputPort();
    EXPECT_EQ(other->KeelPorts().inPort, 0);
}

TEST_F(AuxProcessesTest, BridgePortsFollowTheAllocatorAndTheFixedTable) {
    EXPECT_EQ(m_aux->TidePorts().outPort, 4001);
    EXPECT_EQ(m_aux->SvpLoggerPorts().confPort, 5056);
    EXPECT_EQ(m_aux->SvpLoggerPorts().inPort, 5057);
    EXPECT_EQ(m_aux->SvpLoggerPorts().outPort, 5058);
    m_aux->AllocateBridgePorts();
    EXPECT_EQ(m_aux->KeelPorts().confPort, 5000);
    EXPECT_EQ(m_aux->TidePorts().confPort, 5010);
}

TEST_F(AuxProcessesTest, AddressesAreEmptyUntilSet) {
    EXPECT_TRUE(m_aux->GuiAddress().empty());
    EXPECT_TRUE(m_aux->SpoLoggerAddress().empty());
    m_aux->SetAddresses();
    EXPECT_EQ(m_aux->GuiAddress(), "127.0.0.1:4002");
    EXPECT_EQ(m_aux->SsvAddress(), "127.0.0.1:5055");
    EXPECT_EQ(m_aux->ApplanixAddress(), "127.0.0.1:5071");
    EXPECT_EQ(m_aux->SrhLoggerAddress(), "127.0.0.1:5076");
    EXPECT_EQ(m_aux->RtcmLoggerAddress(), "127.0.0.1:5081");
    EXPECT_EQ(m_aux->ImuLoggerAddress(), "127.0.0.1:5083");
    EXPECT_EQ(m_aux->VmbLoggerAddress(), "127.0.0.1:5093");
    EXPECT_EQ(m_aux->SpoLoggerAddress(), "127.0.0.1:5094");
    EXPECT_EQ(m_aux->UserName(), "ZQ user");
    for (int p = 0; p < CAuxProcesses::kProcessCount; ++p)
        EXPECT_EQ(m_aux->Pid(static_cast<Process>(p)), -1);
}

TEST_F(AuxProcessesTest, VmbLoggerDebugSwitchFollowsTheBlankDirectly) {
    platform::ScopedEnv vmblog("VMBLOG", "");
    m_aux->SetAddresses();
    m_aux->StartVmbLogger();
    const int pid = m_aux->Pid(Process::VmbLogger);
    ASSERT_GT(pid, 0) << AllData();
    ASSERT_TRUE(WaitForText(Journal("VMBLogger.exe", 5093), ""));
    std::vector<std::string> argv = ArgvOf(pid);
    argv.erase(argv.begin());
    EXPECT_EQ(argv, (std::vector<std::string>{"-name", "VMBLOGGER", "-debug", "31"}));
}

// ---- failures -----------------------------------------------------------------

TEST_F(AuxProcessesTest, FailuresAreReportedAndLeaveTheIdUnset) {
    struct Case {
        const char* what;
        const char* sql;  // what goes wrong in the suite, if anything
        std::function<void(CAuxProcesses&)> start;
        Process process;
        std::string line;
        int message;  // 0: none
    };
    const Case cases[] = {
        {"APPLANIX executable missing",
         "UPDATE ath_proc_param SET ath_path = '/nonexistent/Tandlog.exe'",
         [](CAuxProcesses& a) { a.StartApplanixCtrl(); }, Process::ApplanixCtrl,
         "\n\tERROR: Not able to create APPLANIX_CTRL process. Try to restart.", 559},
        {"APPLANIX rows missing", "DELETE FROM ath_proc_param",
         [](CAuxProcesses& a) { a.StartApplanixCtrl(); }, Process::ApplanixCtrl,
         "\n\tERROR: Not able to read APPLANIX_CTRL process parameters from PELDB. Try to "
         "restart.",
         560},
        {"SRH executable missing", "UPDATE srh_proc_param SET srh_path = '/nonexistent/x.exe'",
         [](CAuxProcesses& a) { a.StartSrhLogger(); }, Process::SrhLogger,
         "\n\tERROR: Not able to create SRHLOGGER process. Try to restart.", 572},
        {"SRH rows missing", "DELETE FROM srh_proc_param",
         [](CAuxProcesses& a) { a.StartSrhLogger(); }, Process::SrhLogger,
         "\n\tERROR: Not able to read SRHLOGGER process parameters from PELDB. Try to restart.",
         573},
        {"RTCM executable missing",
         "UPDATE terratec_proc_param SET terratec_path = '/nonexistent/x.exe'",
         [](CAuxProcesses& a) { a.StartRtcmLogger(true); }, Process::RtcmLogger,
         "\n\tERROR: Not able to create RTCMLOGGER process. Try to restart.\n", 574},
        {"RTCM rows missing", "DELETE FROM terratec_proc_param",
         [](CAuxProcesses& a) { a.StartRtcmLogger(true); }, Process::RtcmLogger,
         "\n\tERROR: Not able to read RTCMLOGGER process parameters from PELDB. Try to restart.",
         575},
        {"bridge executable missing",
         "UPDATE rs2udp_parameters SET rs_path = '/nonexistent/RStoUDP.exe'",
         [](CAuxProcesses& a) { a.StartKeelBridge(); }, Process::KeelBridge,
         "\n\tERROR: Not able to create Depth Below Keel RS2UDP process, RESTART.", 447},
        {"bridge rows missing", "DELETE FROM rs2udp_parameters",
         [](CAuxProcesses& a) { a.StartSvpLoggerBridge(); }, Process::SvpLoggerBridge,
         "\n\tERROR: Not able to create SVP Logger RS2UDP process, RESTART.", 447},
        {"VMB logger not found", nullptr,
         [](CAuxProcesses& a) {
             platform::ScopedEnv path("PATH", "/nonexistent");
             a.StartVmbLogger();
         },
         Process::VmbLogger, "\n\tERROR: Not able to create VMBLOGGER process. Try to restart.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_data.clear();
        m_suite.Exec("DELETE FROM arrivedMessages");
        // Two cases raise 447: let the second through the repeat filter.
        m_db.RepeatFilter().lastLogged.clear();
        m_db.RepeatFilter().lastText.clear();
        if (c.sql != nullptr) m_suite.Exec(c.sql);
        auto aux = MakeAux();
        aux->SetAddresses();
        c.start(*aux);
        EXPECT_EQ(aux->Pid(c.process), -1);
        EXPECT_TRUE(Traced(c.line)) << AllData();
        if (c.message != 0) {
            EXPECT_EQ(Messages(c.message), 1);
        }
        EXPECT_EQ(m_suite.QueryInt("SELECT count(*) FROM pid_list"), 0);
    }
}

TEST_F(AuxProcessesTest, MissingAddressesStopTheLaunchesThatNeedThem) {
    // Before SetAddresses every address is empty.
    m_aux->StartApplanixCtrl();
    m_aux->StartSrhLogger();
    m_aux->StartRtcmLogger(false);
    m_aux->StartImuLogger();
    EXPECT_TRUE(m_data.empty()) << AllData();
    m_aux->StartVmbLogger();
    m_aux->StartSpoLogger();
    EXPECT_EQ(m_data,
              (std::vector<std::string>{
                  "\n\tERROR: Not able to read VMBLOGGER process parameters from PELDB. Try to "
                  "restart.",
                  "\n\tERROR: Not able to read SPOLOGGER process parameters from PELDB. Try to "
                  "restart."}));
    for (int p = 0; p < CAuxProcesses::kProcessCount; ++p)
        EXPECT_EQ(m_aux->Pid(static_cast<Process>(p)), -1);
}

TEST_F(AuxProcessesTest, EmptyComParametersMeanNoBridge) {
    m_suite.Exec("UPDATE ship_parameters SET TideComParams = '', KeelComParams = ''");
    m_aux->AllocateBridgePorts();
    m_aux->StartTideBridge();
    m_aux->StartKeelBridge();
    EXPECT_TRUE(m_data.empty()) << AllData();
    EXPECT_EQ(m_aux->Pid(Process::TideBridge), -1);
    EXPECT_EQ(m_aux->Pid(Process::KeelBridge), -1);
    EXPECT_EQ(Messages(447), 0);
}

// ---- the RTCM and IMU loggers --------------------------------------------------

TEST_F(AuxProcessesTest, TokenKeepsInitialisationFromStartingRtcmAndImuLoggers) {
    m_initStartDisable = 1;
    m_suite.Exec(
        "UPDATE ship_parameters SET TideComParams = '', KeelComParams = '', "
        "LoggerComParams = ''");
    m_aux->SetAddresses();
    m_aux->StartInitialProcesses();
    EXPECT_EQ(m_aux->Pid(Process::RtcmLogger), -1);
    EXPECT_EQ(m_aux->Pid(Process::ImuLogger), -1);
    EXPECT_FALSE(m_aux->LoggerStartedHere());
    EXPECT_TRUE(m_data.empty()) << AllData();

    // The operator's request still starts it.
    m_aux->StartRtcmLogger(true);
    EXPECT_GT(m_aux->Pid(Process::RtcmLogger), 0) << AllData();
    EXPECT_TRUE(m_aux->LoggerStartedHere());
}

TEST_F(AuxProcessesTest, TokenIsReadFromTheSuiteTokenFileOnEveryStart) {
    // The token store of the process, reading the token file of the data
    // folder afresh for every request.
    platform::ScopedEnv programData("ProgramData", m_suite.Folder() + "programdata");
    const fs::path folder = fs::path(platform::DataFolder());
    fs::create_directories(folder);
    const auto writeToken = [&](int value) {
        std::ofstream(folder / "PELTokens.json")
            << "{\"lastsave\": \"20261211_115547\", \"tokens\": [{\"Descr\": \"\", \"Name\": "
               "\"RUNT_PARAM_RTCM_INIT_START_DISABLE\", \"Type\": 2, \"Value\": \""
            << value << "\"}]}";
    };
    writeToken(1);
    CAuxContext context;
    context.db = &m_db;
    context.messages = &m_messages;
    CAuxProcesses aux(std::move(context));
    aux.SetAddresses();
    aux.StartRtcmLogger(false);
    aux.StartImuLogger();
    EXPECT_EQ(aux.Pid(Process::RtcmLogger), -1);
    EXPECT_EQ(aux.Pid(Process::ImuLogger), -1);
    EXPECT_FALSE(aux.LoggerStartedHere());

    writeToken(0);
    aux.StartRtcmLogger(false);
    EXPECT_GT(aux.Pid(Process::RtcmLogger), 0);
    EXPECT_TRUE(aux.LoggerStartedHere());
    platform::KillImage("Kestlog.exe");
    aux.Processes().WaitAll(std::chrono::seconds(5));
}

TEST_F(AuxProcessesTest, InitialisationStartsAllFiveInOrder) {
    m_aux->SetAddresses();
    m_aux->DeriveKeelInputPort();
    m_aux->AllocateBridgePorts();
    m_aux->StartInitialProcesses();
    for (Process p : {Process::TideBridge, Process::KeelBridge, Process::RtcmLogger,
                      Process::ImuLogger, Process::SvpLoggerBridge})
        EXPECT_GT(m_aux->Pid(p), 0) << static_cast<int>(p) << AllData();
    for (Process p :
         {Process::ApplanixCtrl, Process::SrhLogger, Process::VmbLogger, Process::SpoLogger})
        EXPECT_EQ(m_aux->Pid(p), -1);
    EXPECT_TRUE(m_aux->LoggerStartedHere());
    // The tide bridge first: its argument line is the first line.
    ASSERT_FALSE(m_data.empty());
    EXPECT_EQ(m_data[0].rfind("\n\t Realtime Tide RStoUDP argument:  ", 0), 0u);
}

TEST_F(AuxProcessesTest, RunningRtcmLoggerIsToldInsteadOfStartedAgain) {
    // The logger already runs, under the image name in another letter case.
    const fs::path upper = fs::current_path() / "KESTLOG.EXE";
    fs::copy_file(kSuiteDir + "/Kestlog.exe", upper);
    const int running = m_other.Spawn(upper.string() + " -name RTCMLOGGER");
    ASSERT_GT(running, 0);
    const fs::path journal = Journal("KESTLOG.EXE", 5081);
    ASSERT_TRUE(WaitForText(journal, ""));

    m_aux->SetAddresses();
    m_aux->StartRtcmLogger(true);
    m_aux->StartRtcmLogger(true);
    EXPECT_EQ(m_aux->Pid(Process::RtcmLogger), -1);
    EXPECT_FALSE(m_aux->LoggerStartedHere());
    ASSERT_TRUE(WaitForText(journal, "$ZQPEL,15,\\n\\r"));
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Count(ReadText(journal), "$ZQPEL,15,\\n\\r") < 2 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(Count(ReadText(journal), "$ZQPEL,15,\\n\\r"), 2u);
    EXPECT_EQ(Registered("RTCMLOGGER"), 0);
}

// ---- greetings ----------------------------------------------------------------

TEST_F(AuxProcessesTest, GreetingsGoOutOnceAndToRtcmOnlyAfterALoggerStart) {
    UdpSink applanix(5071), srh(5076), rtcm(5081);
    m_aux->SetAddresses();
    m_aux->SendInitSentences();
    m_aux->SendInitSentences();  // only the first call sends
    EXPECT_EQ(applanix.Next(), "$ZQPEL,6,\n\r");
    EXPECT_EQ(srh.Next(), "$ZQPEL,6,\n\r");
    // Sends leave in order: a marker sent now is the first datagram at the
    // RTCM port unless a greeting went there.
    SendText("marker", 5081);
    SendText("marker", 5071);
    EXPECT_EQ(rtcm.Next(), "marker");
    EXPECT_EQ(applanix.Next(), "marker");
    EXPECT_FALSE(m_aux->InitSentencesPending());

    // With a logger start attempted here the RTCM logger is greeted too.
    m_initStartDisable = 0;
    auto other = MakeAux();
    other->SetAddresses();
    other->StartImuLogger();
    ASSERT_TRUE(other->LoggerStartedHere());
    other->SendInitSentences();
    EXPECT_EQ(applanix.Next(), "$ZQPEL,6,\n\r");
    EXPECT_EQ(srh.Next(), "$ZQPEL,6,\n\r");
    EXPECT_EQ(rtcm.Next(), "$ZQPEL,6,\n\r");
    platform::KillImage("Morvlog.exe");
    other->Processes().WaitAll(std::chrono::seconds(5));
}

// ---- restarts -----------------------------------------------------------------

TEST_F(AuxProcessesTest, RestartOfABridgeNeverStartedStartsItAtOnce) {
    m_aux->AllocateBridgePorts();
    m_aux->BeginRestart(Bridge::Keel);
    EXPECT_EQ(m_aux->RestartStep(Bridge::Keel), CAuxProcesses::RestartResult::Started);
    EXPECT_GT(m_aux->Pid(Process::KeelBridge), 0) << AllData();
}

TEST_F(AuxProcessesTest, PrepareStepTellsTheOldBridgeToQuit) {
    m_aux->AllocateBridgePorts();
    m_aux->StartTideBridge();
    const int old = m_aux->Pid(Process::TideBridge);
    ASSERT_GT(old, 0);
    const fs::path journal = Journal("RStoUDP.exe", 5010);
    ASSERT_TRUE(WaitForText(journal, ""));
    m_aux->BeginRestart(Bridge::Tide);
    ASSERT_TRUE(WaitForText(journal, "$ZQPEL,24,\\n\\r"));
    // The old bridge ends by itself; the step then starts the new one.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (platform::IsProcessRunning(old) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(m_aux->RestartStep(Bridge::Tide), CAuxProcesses::RestartResult::Started);
    EXPECT_GT(m_aux->Pid(Process::TideBridge), 0);
    EXPECT_NE(m_aux->Pid(Process::TideBridge), old);
}

TEST_F(AuxProcessesTest, OldBridgeEndingWithinTheWaitIsForgottenThenReplaced) {
    struct Case {
        Bridge bridge;
        Process process;
        std::string okLine;  // followed by the pid and " terminated OK."
    } cases[] = {
        {Bridge::Tide, Process::TideBridge, "\n\tProcess Realtime Tide RS2UDP with pid = "},
        {Bridge::Keel, Process::KeelBridge, "\n\tProcess Depth Below Keel RS2UDP with pid = "},
    };
    // A bridge that ends shortly after it is released.
    WriteBridgeScript("while [ ! -e release ]; do sleep 0.02; done; sleep 0.3");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.okLine);
        fs::remove("release");
        m_data.clear();
        auto aux = MakeAux();
        aux->AllocateBridgePorts();
        c.bridge == Bridge::Tide ? aux->StartTideBridge() : aux->StartKeelBridge();
        const int old = aux->Pid(c.process);
        ASSERT_GT(old, 0) << AllData();
        aux->BeginRestart(c.bridge);
        std::ofstream("release").close();
        m_data.clear();
        EXPECT_EQ(aux->RestartStep(c.bridge), CAuxProcesses::RestartResult::StillRunning);
        EXPECT_EQ(m_data,
                  std::vector<std::string>{c.okLine + std::to_string(old) + " terminated OK."});
        EXPECT_EQ(aux->Pid(c.process), -1);
        EXPECT_EQ(aux->RestartAttempts(c.bridge), 1);
        EXPECT_EQ(aux->RestartStep(c.bridge), CAuxProcesses::RestartResult::Started);
        EXPECT_GT(aux->Pid(c.process), 0);
        aux->Processes().WaitAll(std::chrono::seconds(5));
    }
}

TEST_F(AuxProcessesTest, OldBridgeNeverEndingIsGivenUpAfterTheFourthWait) {
    WriteBridgeScript("exec sleep 600");
    m_aux->AllocateBridgePorts();
    m_aux->StartTideBridge();
    const int old = m_aux->Pid(Process::TideBridge);
    ASSERT_GT(old, 0) << AllData();
    m_aux->BeginRestart(Bridge::Tide);
    m_data.clear();
    const std::string timeout =
        "\n\tTimeout waiting for process Realtime Tide RS2UDP with pid = " + std::to_string(old) +
        " to terminate";
    for (int step = 1; step <= 3; ++step) {
        EXPECT_EQ(m_aux->RestartStep(Bridge::Tide), CAuxProcesses::RestartResult::StillRunning);
        EXPECT_EQ(m_aux->Pid(Process::TideBridge), old);
    }
    EXPECT_EQ(m_data, std::vector<std::string>(3, timeout));
    m_data.clear();
    EXPECT_EQ(m_aux->RestartStep(Bridge::Tide), CAuxProcesses::RestartResult::StillRunning);
    EXPECT_EQ(m_data,
              (std::vector<std::string>{timeout,
                                        "\n\tThird attemt waiting for Realtime Tide RS2UDP process "
                                        "with pid = " +
                                            std::to_string(old) + " to terminate. Continue"}));
    EXPECT_EQ(m_aux->Pid(Process::TideBridge), -1);
    // The old one is left running; the next step starts a new one.
    EXPECT_TRUE(platform::IsProcessRunning(old));
    EXPECT_EQ(m_aux->RestartStep(Bridge::Tide), CAuxProcesses::RestartResult::Started);
    EXPECT_GT(m_aux->Pid(Process::TideBridge), 0);
    EXPECT_NE(m_aux->Pid(Process::TideBridge), old);
    // A new cycle counts from zero again.
    m_aux->BeginRestart(Bridge::Tide);
    EXPECT_EQ(m_aux->RestartAttempts(Bridge::Tide), 0);
    platform::KillImage("sleep");
}

}  // namespace
