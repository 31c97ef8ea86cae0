#pragma once
// A fresh suite database and a private ODBC data source "ZPELDB" for one
// test. The constructor creates the database (the schema, optionally the
// demo suite) and a private odbc.ini pointing at it, points ODBCINI,
// ODBCSYSINI and TMPDIR (where the database debug files go) at private
// files, and makes a fresh temporary folder the current directory. The
// destructor restores all of that and removes the files.
//
// The driver manager and the driver remember data-source lookups within a
// process, so the data source and the database file keep one path for the
// whole process (the file is made anew by every fixture): use one fixture
// at a time.

#include <memory>
#include <string>
#include <vector>

namespace platform {
class ScopedEnv;
}

namespace zortest {

class SuiteDb {
  public:
    struct Options {
        bool demo = false;  // load the demo suite after the schema
    };
    // How long a statement waits for a locked database.
    static constexpr int kTimeoutMs = 500;

    static constexpr const char* kDsn = "ZPELDB";
    static constexpr const char* kUser = "peluser";
    static constexpr const char* kPassword = "tolbex4";

    SuiteDb();
    explicit SuiteDb(const Options& options);
    ~SuiteDb();
    SuiteDb(const SuiteDb&) = delete;
    SuiteDb& operator=(const SuiteDb&) = delete;

    const std::string& Folder() const { return m_folder; }  // trailing '/'
    const std::string& DbPath() const { return m_dbPath; }
    const std::string& DebugFolder() const { return m_debugFolder; }  // = TMPDIR
    // Folder the demo rows name as the suite programs' folder.
    static std::string DemoBinFolder() { return "/opt/zor-test/bin/suite"; }

    // Runs SQL directly on the database file; throws std::runtime_error.
    void Exec(const std::string& sql) const;
    // All rows of a query, values as text ("" for NULL); throws.
    std::vector<std::vector<std::string>> Query(const std::string& sql) const;
    long long QueryInt(const std::string& sql) const;

    // Data-source faults. Without "ZPELDB" in odbc.ini a login fails only
    // if it is the first lookup of the data source in the process.
    void RemoveDataSource() const;
    void RemoveDatabaseFile() const;

    // Contents of a debug file in DebugFolder(); empty when missing.
    std::string DebugText(const std::string& debugName, int n = 0) const;
    // Writes "translate.bin" into the current directory (the folder).
    void WriteTranslationTable(const std::string& bytes) const;

    // The source folder holding schema.sql, demo.sql and make-suite-db.
    static std::string SuiteSourceFolder();
    static std::string ReadFile(const std::string& path);

  private:
    void WriteDataSource(bool withDsn) const;

    Options m_options;
    std::string m_folder;
    std::string m_dbPath;
    std::string m_debugFolder;
    std::string m_previousDir;
    std::vector<std::unique_ptr<platform::ScopedEnv>> m_env;
};

}  // namespace zortest
