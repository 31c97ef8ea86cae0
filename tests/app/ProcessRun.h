#pragma once
// Runs the zor binary as a real process in a scratch suite layout: its own
// ProgramData folder (data folder inside), its own working directory, the
// offscreen Qt platform, and (optionally) the demo ODBC environment.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>

class ProcessRun {
  public:
    ProcessRun();
    ~ProcessRun();

    std::filesystem::path Root() const { return m_root; }
    std::filesystem::path ProgramData() const { return m_root / "ProgramData"; }
    std::filesystem::path DataFolder() const { return ProgramData() / "Velmor Dezidizu" / "zpel"; }
    std::filesystem::path WorkDir() const { return m_root / "work"; }
    QProcessEnvironment& Env() { return m_env; }

    // Creates the demo suite database and its private data source "ZPELDB"
    // in the working directory and points the run at it. The demo rows name
    // `programs` as the suite programs' folder; by default a folder that
    // holds none, so that start-up launches nothing. False on failure.
    bool MakeDemoDatabase(const std::string& programs = std::string());
    std::filesystem::path DatabaseFile() const { return WorkDir() / "zpel-suite.db"; }

    // Starts the binary with these words after argument 0.
    void Start(const QStringList& words);
    QProcess& Process() { return *m_process; }
    // Waits for the end; true also when the process had already ended before
    // the call; false on time-out (the process is then killed) or when it
    // never started.
    bool Finish(int ms);
    // Everything the process wrote to standard error / output so far.
    std::string Stderr();
    std::string Stdout();
    bool WaitForStderr(const std::string& needle, int ms);

  private:
    std::filesystem::path m_root;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_process;
    std::string m_err, m_out;
};
