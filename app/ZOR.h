#pragma once
// The main window object of the process. It is never shown when the debug
// mask is 0; its constructor performs the whole start-up sequence and its
// destructor the orderly part of the shutdown.

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <memory>
#include <string>

#include "Options.h"

class CDebugMessageHandler;
class CFsmBase;
class CWatchDogInterface;
class CZORControl;
class LogTrace;
class Q_DebugStream;
class QAction;
class QMenu;
class QPlainTextEdit;
class QSocketNotifier;

// Thrown by the constructor when the options say the process must end now
// (help, faulty options); the process entry returns `status`.
struct ZorExit {
    int status = 0;
};

class ZOR : public QMainWindow {
    Q_OBJECT
  public:
    // Port the watchdog listens on, and the delay of the first heartbeat.
    static constexpr quint16 kWatchdogPort = 33455;
    static constexpr int kFirstJoinDelayMs = 500;
    // Lines the debug window keeps; older ones are dropped.
    static constexpr int kDebugWindowLines = 1000;

    ZOR(int argc, char* argv[]);
    ~ZOR() override;

    const ZorOptions& Options() const { return m_options; }
    bool Quitting() const { return m_quitting; }
    LogTrace* Trace() const { return m_trace.get(); }

    // Where the Exit action posts the termination sentence: the controller's
    // external queue. Not owned; null until the controller exists.
    void SetController(CFsmBase* controller) { m_controllerInput = controller; }

    // The operator surface; all null when the debug mask is 0, and the tray
    // icon also when the desktop has no system tray.
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    QMenu* TrayMenu() const { return m_trayMenu; }
    QAction* ShowHideAction() const { return m_showHideAction; }
    QAction* HelpAction() const { return m_helpAction; }
    QAction* ExitAction() const { return m_exitAction; }
    QPlainTextEdit* TextView() const { return m_textView; }

    // SIGINT and SIGTERM run the whole shutdown: they post the termination
    // sentence to the controller.
    void WatchStopSignals();

    // From now on the controller's destructor ends the process (shutdown
    // script, exit status 0). The process entry's choice: a test that builds
    // a window keeps its own process.
    void EndProcessAtShutdown();

  public slots:
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void trayIconMessageclicked();
    void showHideWindow();
    void showHelp();
    void doQuit();
    void terminateZOR();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildDebugWindow();
    void BuildTray();
    void ConnectDatabase(const std::string& commandLine);

    // Qt children of this window.
    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_showHideAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_helpAction = nullptr;
    QPlainTextEdit* m_textView = nullptr;
    bool m_quitting = false;
    std::unique_ptr<CWatchDogInterface> m_watchdog;  // also a Qt child of this window
    ZorOptions m_options;
    std::unique_ptr<LogTrace> m_trace;          // only with a non-zero debug mask
    QSocketNotifier* m_stopNotifier = nullptr;  // child of this window
    CFsmBase* m_controllerInput = nullptr;
    // The window's feeds; they go before the text view does.
    std::unique_ptr<Q_DebugStream> m_outStream;
    std::unique_ptr<Q_DebugStream> m_errStream;
    std::unique_ptr<CDebugMessageHandler> m_messageHandler;
    // Deleted by the destructor after the watchdog; its destructor ends the
    // process.
    std::unique_ptr<CZORControl> m_controller;
};
