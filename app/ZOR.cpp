#include "ZOR.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "DBoperations.h"
#include "LogTrace.h"
#include "Messages.h"
#include "ProcessDatabase.h"
#include "ProcessMessages.h"
#include "StopSignals.h"
#include "WatchDogInterface.h"
#include "ZORControl.h"

namespace {

constexpr unsigned long kTraceLogSize = 1000000;

void WaitForKey() {
    // Any character, or the end of input, lets the process go.
    [[maybe_unused]] int c = std::getchar();
}

}  // namespace

ZOR::ZOR(int argc, char* argv[]) : QMainWindow(nullptr) {
    const std::string commandLine = JoinCommandLine(argc, argv);

    switch (ReadOptions(argc, argv, m_options)) {
        case OptionsOutcome::Run:
            break;
        case OptionsOutcome::WaitKeyAndExit:
            WaitForKey();
            throw ZorExit{0};
        case OptionsOutcome::ExitNow:
            throw ZorExit{0};
    }

    if (m_options.debugMask != 0) {
        m_trace = std::make_unique<LogTrace>(m_options.logFile.c_str(), kTraceLogSize);
        m_trace->SetConsole(!m_options.noConsole);
    }

    qDebug("%s", "ZOR running, Connecting to Database and Starting FSM Framework...\n");

    ConnectDatabase(commandLine);

    m_controller = std::make_unique<CZORControl>(m_options.name.c_str(), CZORControl::SUPERVISE,
                                                 m_trace.get(), m_options.debugMask);
    connect(m_controller.get(), &CZORControl::terminate, this, &ZOR::terminateZOR);
    m_controller->StartFsm(0);
    // Without its command port ZOR would run deaf: end with a failure.
    if (!m_controller->CommandPortOpen()) throw ZorExit{1};
    m_controller->SetEndProcess(true);

    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    m_watchdog = std::make_unique<CWatchDogInterface>(this);
    m_watchdog->Start(QStringLiteral("ZOR"));
    m_watchdog->setPort(kWatchdogPort);
    m_watchdog->setProgramPath(
        CWatchDogInterface::ProgramPath(arguments, QCoreApplication::applicationDirPath()));
    m_watchdog->setFlag(1);

    QTimer::singleShot(kFirstJoinDelayMs, m_watchdog.get(), &CWatchDogInterface::wd_join);
}

ZOR::~ZOR() {
    // The watchdog goes first: its leave datagram must precede the rest of
    // the shutdown.
    m_watchdog.reset();
    m_controller.reset();
}

void ZOR::ConnectDatabase(const std::string& commandLine) {
    CDBoperations& database = ProcessDatabase();
    CMessages& messages = ProcessMessages();
    messages.setDbOperations(&database);
    // Failures land in the database debug file; start-up goes on without the
    // database and the controller meets the failure in its own start.
    database.connectDatabase(kSuiteDsn, kSuiteUser, kSuitePassword, nullptr);
    messages.initCatalogue();

    int version = -1;
    std::string versionName;
    database.getDbVersion(version, versionName);
    if (m_trace) {
        m_trace->Append("DATABASE INFO: ver. %i, proc. %s\n", version, versionName.c_str());
        m_trace->Append("argv = [%s]\n", commandLine.c_str());
    }

    database.registerPid(static_cast<int>(QCoreApplication::applicationPid()), m_options.name);
}

void ZOR::WatchStopSignals() {
    const int fd = platform::StopSignalDescriptor();
    if (fd < 0 || m_stopNotifier != nullptr) return;
    m_stopNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_stopNotifier, &QSocketNotifier::activated, this, [this] {
        platform::DrainStopSignals();
        // Ctrl-C reaches a whole process group; the controller disregards a
        // second request.
        if (m_controller) {
            m_controller->PutSignal(
                std::make_unique<CPELSignal>(CZORControl::ZQPEL_24,
                                             CFsmPayload::Copy(CZORControl::kTerminateSentence)),
                true);
        } else if (!m_quitting) {
            terminateZOR();
        }
    });
}

void ZOR::terminateZOR() {
    qDebug("%s", "\nZOR: Cleaning up after termination by OP system.\n");
    m_quitting = true;
    QCoreApplication::quit();
}
