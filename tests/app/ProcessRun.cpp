#include "ProcessRun.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdlib>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
std::atomic<int> g_runs{0};

// Waits up to `ms` for the process to end; true when it has ended, also when
// it had already ended before the call (waitForFinished is false then: the
// event loop may have seen the end in any processEvents call in between, e.g.
// a UDP listener's wait). On time-out the process is killed.
bool Ended(QProcess& process, int ms) {
    if (process.state() != QProcess::NotRunning) process.waitForFinished(ms);
    if (process.state() == QProcess::NotRunning) return process.error() != QProcess::FailedToStart;
    process.kill();
    process.waitForFinished(5000);
    return false;
}
}  // namespace

ProcessRun::ProcessRun() {
    // A fresh folder of its own: process ids repeat across PID namespaces,
    // so they cannot tell concurrent test programs apart.
    std::string pattern =
        (fs::temp_directory_path() / ("zor-run-" + std::to_string(g_runs++) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    m_root = pattern;
    fs::create_directories(DataFolder());
    fs::create_directories(WorkDir());
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert("ProgramData", QString::fromStdString(ProgramData().string()));
    m_env.insert("QT_QPA_PLATFORM", "offscreen");
    m_env.insert("TMPDIR", QString::fromStdString(m_root.string()));
    m_env.insert("XDG_RUNTIME_DIR", QString::fromStdString(m_root.string()));
    m_env.remove("ZOR_LOGNAME");
    // Without a data source of its own the run must not reach a real suite.
    m_env.insert("ODBCINI", QString::fromStdString((m_root / "odbc.ini").string()));
    m_env.insert("ODBCSYSINI", QString::fromStdString(m_root.string()));
}

ProcessRun::~ProcessRun() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

bool ProcessRun::MakeDemoDatabase(const std::string& programs) {
    const std::string bin = programs.empty() ? (m_root / "no-programs").string() : programs;
    QProcess make;
    make.start(QStringLiteral(ZOR_MAKE_SUITE_DB),
               {QStringLiteral("--bin"), QString::fromStdString(bin),
                QString::fromStdString(WorkDir().string())});
    if (!Ended(make, 60000) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0)
        return false;
    m_env.insert("ODBCINI", QString::fromStdString((WorkDir() / "odbc.ini").string()));
    m_env.insert("ODBCSYSINI", QString::fromStdString(WorkDir().string()));
    return true;
}

void ProcessRun::Start(const QStringList& words) {
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(m_env);
    m_process->setWorkingDirectory(QString::fromStdString(WorkDir().string()));
    m_process->start(QStringLiteral(ZOR_BINARY), words);
    m_process->waitForStarted(5000);
}

bool ProcessRun::Finish(int ms) {
    return Ended(*m_process, ms);
}

std::string ProcessRun::Stderr() {
    m_err += m_process->readAllStandardError().toStdString();
    return m_err;
}

std::string ProcessRun::Stdout() {
    m_out += m_process->readAllStandardOutput().toStdString();
    return m_out;
}

bool ProcessRun::WaitForStderr(const std::string& needle, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (Stderr().find(needle) == std::string::npos) {
        if (clock.elapsed() > ms || m_process->state() == QProcess::NotRunning) {
            return Stderr().find(needle) != std::string::npos;
        }
        m_process->waitForReadyRead(50);
    }
    return true;
}
