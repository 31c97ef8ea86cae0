#pragma once
// The grid server "Tessera.exe": which grid engine the GUI settings ask
// for, the HTTP request that asks a running server to shut down, and the
// (re)start of the server process.

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

// The grid-engine setting of the operator GUI.
class CCirruloConnector {
  public:
    using TYPE_GRIDENGINE = int;
    // The value that asks ZOR to run the grid server.
    static constexpr TYPE_GRIDENGINE kGridEngineTessera = 1;

    // "gui.ini" in the suite data folder.
    static QString SettingsPath();
    // Group "RUNTIME", key "GRIDENGINE" of "gui.ini"; a missing key is
    // written with 1. 1 when the value cannot be read as an integer.
    static TYPE_GRIDENGINE getGEType();
};

// The HTTP client of the grid server, and its start.
//
// Create it on the main thread (it belongs there with its network access
// manager); its replies, timers and StartTesseraCont run on the main
// thread's event loop. RequestShutdown and RequestShutdownAtExit may be
// called from any thread.
class CGridServerClient : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kShutdownUrl =
        "http://127.0.0.1:9091/v1/pelgridengine/api/service/shutdown";
    // A request not answered within this time is aborted (and logged as a
    // failed one), so a server that accepts and never answers holds nothing.
    static constexpr std::chrono::milliseconds kRequestTimeout{1500};
    // Pause between the shutdown reply and the start of the new server.
    static constexpr std::chrono::milliseconds kRestartDelay{1000};
    static constexpr const char* kImageName = "Tessera.exe";
    static constexpr const char* kDebugImageName = "Tesserad.exe";

    using TraceSink = std::function<void(const std::string&)>;
    using Completion = std::function<void()>;

    // traceData: the controller's data trace (may be empty).
    explicit CGridServerClient(TraceSink traceData, QObject* parent = nullptr);
    ~CGridServerClient() override;
    CGridServerClient(const CGridServerClient&) = delete;
    CGridServerClient& operator=(const CGridServerClient&) = delete;

    // Start-up (main thread): when getGEType() is 1, either asks a running
    // "Tessera.exe" or "Tesserad.exe" (letter case ignored) to shut down and
    // starts the new server 1000 ms after the reply (or its failure), or
    // starts it at once. Any other value: nothing.
    void StartGridServer();

    // Sends GET kShutdownUrl from the main thread (queued there when called
    // from another thread). When the request has finished, failed or timed
    // out, the reply is written to the Qt debug output ("ERROR!" and the
    // error text; or content type, last-modified, content length, status
    // code and reason phrase, one per line), then onFinished runs on the
    // main thread.
    void RequestShutdown(Completion onFinished = {});
    // The shutdown request of ZOR's own end: as RequestShutdown; when the
    // reply is delivered the data trace line "\nTerminate Tessera\n" is
    // written before the reply is logged.
    void RequestShutdownAtExit();

    // Main thread: runs a local event loop until no request is pending or
    // the limit has passed (for use after the application's loop ended).
    // True when nothing is pending any more.
    bool WaitForPending(std::chrono::milliseconds limit);
    // Requests asked for and not yet finished (queued ones included).
    int PendingRequests() const { return m_pending.load(); }

  signals:
    // The last pending request has finished.
    void Idle();

  public slots:
    // Ends every "Tessera.exe" (exact name), then starts "./Tessera.exe"
    // detached in the working directory, with the trace lines of each step.
    void StartTesseraCont();

  private:
    // Main thread: sends one request.
    void Send(const Completion& onFinished, bool exitTrace);
    void Finished(QNetworkReply* reply, const Completion& onFinished, bool exitTrace);
    void TraceData(const std::string& text) const;

    TraceSink m_traceData;
    std::unique_ptr<QNetworkAccessManager> m_network;  // main thread; made at the first request
    std::atomic<int> m_pending{0};
};
