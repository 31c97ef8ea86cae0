#pragma once
// The main window object of the process. It is never shown when the debug
// mask is 0; its constructor performs the whole start-up sequence and its
// destructor the orderly part of the shutdown.

#include <QMainWindow>
#include <memory>
#include <string>

#include "Options.h"

class CWatchDogInterface;
class CZORControl;
class LogTrace;
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

    ZOR(int argc, char* argv[]);
    ~ZOR() override;

    const ZorOptions& Options() const { return m_options; }
    bool Quitting() const { return m_quitting; }

    // SIGINT and SIGTERM run the whole shutdown: they post the termination
    // sentence to the controller.
    void WatchStopSignals();

  public slots:
    void terminateZOR();

  private:
    void ConnectDatabase(const std::string& commandLine);

    bool m_quitting = false;
    std::unique_ptr<CWatchDogInterface> m_watchdog;  // also a Qt child of this window
    ZorOptions m_options;
    std::unique_ptr<LogTrace> m_trace;          // only with a non-zero debug mask
    QSocketNotifier* m_stopNotifier = nullptr;  // child of this window
    // Deleted by the destructor after the watchdog; its destructor ends the
    // process.
    std::unique_ptr<CZORControl> m_controller;
};
