#include "ZOR.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string_view>

#include "DBoperations.h"
#include "DebugStream.h"
#include "FsmBase.h"
#include "FsmSignal.h"
#include "HandlerFactory.h"
#include "LogTrace.h"
#include "Messages.h"
#include "ProcessDatabase.h"
#include "ProcessMessages.h"
#include "StopSignals.h"
#include "WatchDogInterface.h"
#include "ZORControl.h"

// The images live in the app library; a static library has to ask for them.
static bool InitZorResources() {
    Q_INIT_RESOURCE(zor);
    return true;
}

namespace {

constexpr unsigned long kTraceLogSize = 1000000;

const char* const kIconShow = ":/images/arrow-up-3.png";
const char* const kIconHide = ":/images/arrow-down-3.png";
const char* const kIconHelp = ":/images/help-3.png";
const char* const kIconExit = ":/images/dialog-cancel-7.png";
const char* const kIconTray = ":/images/control_panel.png";

// The program's version as its version resource spells it.
const char* const kVersion = "5,3,1,447";

// What a received termination sentence becomes: sentence 24 as signal 50024.
constexpr int32_t kTerminateSignal = 50024;
constexpr std::string_view kTerminateSentence{"$ZQPEL,24,\n\r"};

// Start-up size of the debug window, as a share of the desktop.
constexpr double kWindowShare = 0.4;

const char* const kNoTray = "ZOR: no system tray available; running without the tray icon";

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
        BuildDebugWindow();
        BuildTray();
    }

    qDebug("%s", "ZOR running, Connecting to Database and Starting FSM Framework...\n");

    ConnectDatabase(commandLine);

    CControlSetup setup;
    setup.handlerFactory = &MakeSounderHandler;
    m_controller = std::make_unique<CZORControl>(m_options.name.c_str(), CZORControl::SUPERVISE,
                                                 m_trace.get(), m_options.debugMask, setup);
    connect(m_controller.get(), &CZORControl::terminate, this, &ZOR::terminateZOR);
    m_controller->StartFsm(0);
    // Without its command port ZOR would run deaf: end with a failure.
    if (!m_controller->CommandPortOpen()) throw ZorExit{1};
    SetController(m_controller.get());

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

void ZOR::EndProcessAtShutdown() {
    if (m_controller) m_controller->SetEndProcess(true);
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
        if (m_controllerInput != nullptr) {
            doQuit();
        } else if (!m_quitting) {
            terminateZOR();
        }
    });
}

void ZOR::terminateZOR() {
    qDebug("%s", "\nZOR: Cleaning up after termination by OP system.\n");
    if (m_trayIcon) m_trayIcon->hide();
    m_quitting = true;
    QCoreApplication::quit();
}

void ZOR::BuildDebugWindow() {
    [[maybe_unused]] static const bool resources = InitZorResources();

    m_textView = new QPlainTextEdit(this);
    m_textView->setMaximumBlockCount(kDebugWindowLines);
    m_textView->setReadOnly(true);
    // Trace lines are laid out in columns.
    m_textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setCentralWidget(m_textView);

    // Lines written on any thread reach the view on this thread, in order.
    auto* pump = new CDebugLinePump(m_textView, kDebugWindowLines);
    m_outStream = std::make_unique<Q_DebugStream>(std::cout);
    connect(m_outStream.get(), &Q_DebugStream::updateText, pump, &CDebugLinePump::AddLine,
            Qt::DirectConnection);
    m_errStream = std::make_unique<Q_DebugStream>(std::cerr);
    connect(m_errStream.get(), &Q_DebugStream::updateText, pump, &CDebugLinePump::AddLine,
            Qt::DirectConnection);

    m_messageHandler = std::make_unique<CDebugMessageHandler>();
    // The trace echo through std::cerr, where the window sees it.
    m_trace->SetConsoleStream(&std::cerr);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize desktop = screen->size();
        resize(static_cast<int>(desktop.width() * kWindowShare),
               static_cast<int>(desktop.height() * kWindowShare));
    }

    m_showHideAction = new QAction(QIcon(QString::fromLatin1(kIconShow)),
                                   QStringLiteral("Show Debug Window"), this);
    connect(m_showHideAction, &QAction::triggered, this, &ZOR::showHideWindow);
    m_helpAction = new QAction(QIcon(QString::fromLatin1(kIconHelp)), tr("&Help"), this);
    connect(m_helpAction, &QAction::triggered, this, &ZOR::showHelp);
    m_exitAction = new QAction(QIcon(QString::fromLatin1(kIconExit)), tr("&Exit"), this);
    connect(m_exitAction, &QAction::triggered, this, &ZOR::doQuit);
}

void ZOR::BuildTray() {
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_showHideAction);
    m_trayMenu->addAction(m_helpAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_exitAction);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayIcon = new QSystemTrayIcon(this);
        m_trayIcon->setContextMenu(m_trayMenu);
        m_trayIcon->setToolTip(tr("ZOR"));
        m_trayIcon->setIcon(QIcon(QString::fromLatin1(kIconTray)));
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, &ZOR::trayIconActivated);
        connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &ZOR::trayIconMessageclicked);
        m_trayIcon->show();
    } else {
        // A headless machine or a desktop without a tray: the process runs on
        // and the window stays reachable as an ordinary window.
        std::cerr << kNoTray << std::endl;
    }
    show();
}

void ZOR::trayIconActivated(QSystemTrayIcon::ActivationReason reason) {
    // The context menu is the tray icon's own business.
    if (reason == QSystemTrayIcon::DoubleClick) showHideWindow();
}

void ZOR::trayIconMessageclicked() {
    show();
}

void ZOR::showHideWindow() {
    if (isVisible()) {
        hide();
        if (m_showHideAction) {
            m_showHideAction->setIcon(QIcon(QString::fromLatin1(kIconShow)));
            m_showHideAction->setText(QStringLiteral("Show Debug Window"));
        }
    } else {
        show();
        if (m_showHideAction) {
            m_showHideAction->setIcon(QIcon(QString::fromLatin1(kIconHide)));
            m_showHideAction->setText(QStringLiteral("Hide Debug Window"));
        }
        if (isMinimized()) showNormal();
    }
}

void ZOR::showHelp() {
    const QString version =
        QString::fromLatin1(kVersion).replace(QLatin1Char(','), QLatin1Char('.'));
    QMessageBox::information(
        nullptr, tr("Help"),
        tr("Velmor Dezidizu ZOR ver. %1\nStart program to enable communication with the "
           "Echosounder(s)")
            .arg(version),
        QMessageBox::Ok);
}

void ZOR::doQuit() {
    // The same signal a received termination sentence becomes, so the
    // controller's tables run the one shutdown they know.
    if (m_controllerInput == nullptr) return;
    m_controllerInput->PutSignal(std::make_unique<CPELSignal>(
        kTerminateSignal, static_cast<CFsmBase*>(nullptr), CFsmPayload::Copy(kTerminateSentence)));
}

void ZOR::closeEvent(QCloseEvent* event) {
    if (m_quitting) {
        event->accept();
        return;
    }
    if (m_trayIcon && m_trayIcon->isVisible()) {
        // Into the tray; the process runs on.
        if (isVisible()) showHideWindow();
        event->ignore();
        return;
    }
    if (m_trayIcon) m_trayIcon->hide();
    event->accept();
}

void ZOR::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimising hides the window into the tray. Without a tray icon it
    // stays an ordinary minimised window: hidden, nothing could bring it back.
    // Done on the next turn of the event loop: showMinimized() shows the
    // window again right after the state change.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_trayIcon &&
        m_trayIcon->isVisible()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!isMinimized()) return;
                show();
                showHideWindow();
            },
            Qt::QueuedConnection);
    }
}
