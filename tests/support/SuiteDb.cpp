#include "SuiteDb.h"

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "Environment.h"
#include "Paths.h"

namespace fs = std::filesystem;

namespace zortest {
namespace {

constexpr const char* kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// The temporary folder as it was before any fixture changed TMPDIR.
const std::string& RootTemp() {
    static const std::string root = platform::TempFolder();
    return root;
}

// The driver manager and the driver remember data-source lookups (the
// ODBCSYSINI folder for good, a data source's attributes for a while), so
// every fixture of a process uses the same files: one folder per process
// holds odbcinst.ini, odbc.ini and the database file, which each fixture
// creates anew. Only the debug folder and the current directory are per
// fixture.
class ProcessFiles {
  public:
    ProcessFiles() {
        std::random_device random;
        folder = RootTemp() + "zor-suitedb-" + std::to_string(random()) + "/";
        fs::create_directories(folder);
        std::ofstream(folder + "odbcinst.ini")
            << "[ZPEL SQLite3]\nDriver=" << kDriver << "\nThreading=2\n";
    }
    ~ProcessFiles() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::string folder;
};

const ProcessFiles& Files() {
    static const ProcessFiles files;
    return files;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

struct Db {
    sqlite3* handle = nullptr;
    explicit Db(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            const std::string error = handle ? sqlite3_errmsg(handle) : "out of memory";
            sqlite3_close(handle);
            throw std::runtime_error("cannot open " + path + ": " + error);
        }
        sqlite3_busy_timeout(handle, 5000);
    }
    ~Db() { sqlite3_close(handle); }
};

}  // namespace

SuiteDb::SuiteDb() : SuiteDb(Options{}) {}

SuiteDb::SuiteDb(const Options& options) : m_options(options) {
    static std::atomic<int> counter{0};
    m_folder = Files().folder + "test-" + std::to_string(counter++) + "/";
    fs::create_directories(m_folder);
    m_debugFolder = m_folder + "tmp/";
    fs::create_directories(m_debugFolder);
    m_dbPath = Files().folder + "zpel-suite.db";
    RemoveDatabaseFile();

    std::string sql = "BEGIN;\n" + ReadFile(SuiteSourceFolder() + "schema.sql");
    if (options.demo) {
        std::string demo = ReadFile(SuiteSourceFolder() + "demo.sql");
        demo = Replace(demo, "@SUITE_BIN@", DemoBinFolder());
        demo = Replace(demo, "@SUITE_DIR@", m_folder.substr(0, m_folder.size() - 1));
        sql += demo;
    }
    sql += "\nCOMMIT;\n";
    Exec(sql);
    WriteDataSource(true);

    m_env.push_back(std::make_unique<platform::ScopedEnv>("ODBCSYSINI", Files().folder));
    m_env.push_back(std::make_unique<platform::ScopedEnv>("ODBCINI", Files().folder + "odbc.ini"));
    m_env.push_back(std::make_unique<platform::ScopedEnv>("TMPDIR", m_debugFolder));
    m_previousDir = fs::current_path().string();
    fs::current_path(m_folder);
}

SuiteDb::~SuiteDb() {
    std::error_code ec;
    fs::current_path(m_previousDir, ec);
    m_env.clear();
    fs::remove_all(m_folder, ec);
    RemoveDatabaseFile();
    WriteDataSource(true);
}

void SuiteDb::WriteDataSource(bool withDsn) const {
    std::ofstream ini(Files().folder + "odbc.ini", std::ios::trunc);
    if (!withDsn) {
        ini << "[OTHERDB]\nDriver=" << kDriver << "\nDatabase=" << m_dbPath << "\n";
        return;
    }
    ini << "[ZPELDB]\nDriver=" << kDriver << "\nDatabase=" << m_dbPath
        << "\nNoCreat=1\nTimeout=" << kTimeoutMs << "\n";
}

void SuiteDb::RemoveDataSource() const {
    WriteDataSource(false);
}

void SuiteDb::RemoveDatabaseFile() const {
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(m_dbPath + suffix, ec);
}

void SuiteDb::Exec(const std::string& sql) const {
    Db db(m_dbPath);
    char* error = nullptr;
    if (sqlite3_exec(db.handle, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("SQL failed: " + text + "\n" + sql.substr(0, 200));
    }
}

std::vector<std::vector<std::string>> SuiteDb::Query(const std::string& sql) const {
    Db db(m_dbPath);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db.handle, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("SQL failed: ") + sqlite3_errmsg(db.handle));
    }
    std::vector<std::vector<std::string>> rows;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const unsigned char* text = sqlite3_column_text(statement, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) throw std::runtime_error("SQL step failed: " + sql);
    return rows;
}

long long SuiteDb::QueryInt(const std::string& sql) const {
    const auto rows = Query(sql);
    if (rows.empty() || rows[0].empty()) throw std::runtime_error("no row: " + sql);
    return std::stoll(rows[0][0]);
}

std::string SuiteDb::DebugText(const std::string& debugName, int n) const {
    return ReadFile(m_debugFolder + "db_" + debugName + "_" + std::to_string(n) + ".txt");
}

void SuiteDb::WriteTranslationTable(const std::string& bytes) const {
    std::ofstream(m_folder + "translate.bin", std::ios::binary | std::ios::trunc) << bytes;
}

std::string SuiteDb::SuiteSourceFolder() {
    return ZOR_SUITE_SOURCE_DIR "/";
}

std::string SuiteDb::ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace zortest
