#include "DBoperations.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>

#include "DbBinding.h"
#include "Paths.h"
#include "TranslateChar.h"

namespace {

constexpr const char* kTranslationTable = "translate.bin";
constexpr SQLSMALLINT kDatabaseNameChars = 1000;

using dbdetail::AsInt;
using dbdetail::Binding;
using dbdetail::IntColumn;
using dbdetail::Succeeded;

}  // namespace

void CDBoperations::SqliteCloser::operator()(sqlite3* db) const {
    sqlite3_close(db);
}

CDBoperations::CDBoperations(const char* debugName)
    : m_translator(std::make_unique<CTranslateChar>(kTranslationTable)) {
    SetDebugName(debugName != nullptr ? debugName : "");
}

CDBoperations::~CDBoperations() {
    // The connection disconnects in its destructor. The SQLite library is
    // not shut down: other objects, the ODBC driver and the token store of
    // the same process still use it.
    m_connection.reset();
    m_sqlite.reset();
    m_debugFile.reset();
    m_translator.reset();
    m_repeat.lastLogged.clear();
    m_repeat.lastText.clear();
}

void CDBoperations::SetDebugName(const char* name) {
    std::memset(m_debugName, 0, sizeof m_debugName);
    std::strncpy(m_debugName, name, kDebugNameChars);
}

std::string CDBoperations::DebugFileName(const char* debugName, int n) {
    return platform::TempFolder() + "db_" + debugName + "_" + std::to_string(n) + ".txt";
}

int CDBoperations::writeDebugText(const char* text) {
    if (!m_debugFile) {
        // Choosing, claiming and clearing the next name is one step for the
        // whole process: objects of one name (every handler's) must neither
        // share a file nor clear the one another object has just claimed.
        static std::mutex choosing;
        std::lock_guard<std::mutex> guard(choosing);
        std::error_code ec;
        int n = 0;
        for (;;) {
            while (n < kDebugFiles && std::filesystem::exists(DebugFileName(m_debugName, n), ec))
                ++n;
            if (n == kDebugFiles) {  // all present: number 0 is made anew
                n = 0;
                m_debugFile.reset(std::fopen(DebugFileName(m_debugName, n).c_str(), "w"));
                break;
            }
            // Objects of one name (every handler's) may look for a free file at
            // the same moment: each claims its own, or moves on to the next.
            m_debugFile.reset(std::fopen(DebugFileName(m_debugName, n).c_str(), "wx"));
            if (m_debugFile || errno != EEXIST) break;
            ++n;
        }
        m_debugPath = m_debugFile ? DebugFileName(m_debugName, n) : std::string();
        // The gap after the newest file marks where the next run starts.
        std::filesystem::remove(DebugFileName(m_debugName, (n + 1) % kDebugFiles), ec);
    }
    if (m_debugFile && text != nullptr) {
        std::fwrite(text, 1, std::strlen(text), m_debugFile.get());
        std::fflush(m_debugFile.get());
    }
    return 0;
}

void CDBoperations::ReportFailure(int code, SQLRETURN rc, const std::string& statement) {
    if (rc == SQL_NO_DATA) {
        std::snprintf(m_errorText, sizeof m_errorText, "%d: (SQL_NO_DATA): ", code);
    } else {
        std::snprintf(m_errorText, sizeof m_errorText, "%d (%d): ", code, static_cast<int>(rc));
    }
    writeDebugText(m_errorText);
    if (!statement.empty()) writeDebugText(statement.c_str());
    writeDebugText("\n");
}

void CDBoperations::ReportRefused(const char* reason, const std::string& statement) {
    writeDebugText("Statement refused, ");
    writeDebugText(reason);
    writeDebugText(": ");
    writeDebugText(statement.c_str());
    writeDebugText("\n");
}

bool CDBoperations::Compose(std::string& out, std::size_t capacity, const char* format, ...) {
    std::vector<char> buffer(capacity + 1);
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    out.assign(buffer.data());
    if (length < 0 || static_cast<std::size_t>(length) > capacity) {
        char reason[64];
        std::snprintf(reason, sizeof reason, "longer than %zu characters", capacity);
        ReportRefused(reason, out);
        return false;
    }
    return true;
}

int CDBoperations::QueryFirstRow(const std::string& statement, std::vector<Binding>& columns) {
    bool gotRow = false;
    const int result = QueryAllRows(statement, columns, [&gotRow]() {
        gotRow = true;
        return false;  // only the first row is used
    });
    if (result != 0) return -1;
    if (!gotRow) {
        ReportFailure(kFailExecute, SQL_NO_DATA, statement);
        return -1;
    }
    return 0;
}

int CDBoperations::QueryAllRows(const std::string& statement, std::vector<Binding>& columns,
                                const std::function<bool()>& onRow) {
    dbdetail::StatementScope scope(m_hstmt);
    m_rc = m_hdbc != SQL_NULL_HDBC ? SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &m_hstmt)
                                   : SQL_INVALID_HANDLE;
    if (!Succeeded(static_cast<SQLRETURN>(m_rc))) {
        m_hstmt = SQL_NULL_HSTMT;
        ReportFailure(kFailAlloc, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Binding& column = columns[i];
        m_rc = SQLBindCol(m_hstmt, static_cast<SQLUSMALLINT>(i + 1), column.cType, column.buffer,
                          column.size, &column.indicator);
        if (!Succeeded(static_cast<SQLRETURN>(m_rc))) {
            ReportFailure(kFailBind, static_cast<SQLRETURN>(m_rc), statement);
            return -1;
        }
    }
    m_rc = SQLExecDirect(m_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                         SQL_NTS);
    if (!Succeeded(static_cast<SQLRETURN>(m_rc))) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    for (;;) {
        m_rc = SQLFetch(m_hstmt);
        if (m_rc == SQL_NO_DATA) return 0;
        if (!Succeeded(static_cast<SQLRETURN>(m_rc))) {
            ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), statement);
            return -1;
        }
        for (Binding& column : columns) column.ClearIfNull();
        if (!onRow()) return 0;
    }
}

int CDBoperations::Execute(const std::string& statement) {
    std::vector<Binding> none;
    dbdetail::StatementScope scope(m_hstmt);
    m_rc = m_hdbc != SQL_NULL_HDBC ? SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &m_hstmt)
                                   : SQL_INVALID_HANDLE;
    if (!Succeeded(static_cast<SQLRETURN>(m_rc))) {
        m_hstmt = SQL_NULL_HSTMT;
        ReportFailure(kFailAlloc, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    m_rc = SQLExecDirect(m_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                         SQL_NTS);
    if (!Succeeded(static_cast<SQLRETURN>(m_rc))) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    return 0;
}

int CDBoperations::connectDatabase(const char* dsn, const char* user, const char* password,
                                   const char* newDebugName) {
    if (dsn == nullptr || user == nullptr || password == nullptr) return -1;
    // A second login replaces the first.
    m_sqlite.reset();
    m_hdbc = SQL_NULL_HDBC;
    m_connection = std::make_unique<CDBconnection>();
    m_connection->setDsn(dsn);
    m_connection->setUser(user);
    m_connection->setPassword(password);
    if (m_connection->connect() != 0) return -1;
    m_hdbc = m_connection->Handle();
    if (m_hdbc == SQL_NULL_HDBC) return -1;
    if (newDebugName != nullptr) SetDebugName(newDebugName);

    // Every number with a text is known to the repeat filter from the start.
    const std::string statement = "SELECT number FROM messages WHERE lang=3 ORDER BY number";
    SQLUINTEGER number = 0;
    std::vector<Binding> columns{IntColumn(number)};
    const int result = QueryAllRows(statement, columns, [this, &number]() {
        m_repeat.lastLogged[AsInt(number)] = 0;
        m_repeat.lastText[AsInt(number)] = " ";
        return true;
    });
    if (result != 0) return -1;

    m_repeat.windowMs = kRepeatWindowMs;
    OpenSqlite();
    return 0;
}

void CDBoperations::OpenSqlite() {
    m_sqlite.reset();
    char name[kDatabaseNameChars + 1] = {};
    SQLSMALLINT length = 0;
    if (SQLGetInfo(m_hdbc, SQL_DATABASE_NAME, name, kDatabaseNameChars, &length) != SQL_SUCCESS) {
        return;
    }
    sqlite3_initialize();
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(name, &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<sqlite3, SqliteCloser> db(raw);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "SQLite specific, %s: Can't open database %s: %s\n", m_debugName, name,
                     raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        return;
    }
    std::fprintf(stderr, "SQLite specific, %s: Opened database %s successfully\n", m_debugName,
                 name);
    if (sqlite3_busy_timeout(raw, kSqliteBusyTimeoutMs) != SQLITE_OK) {
        std::fprintf(stderr, "SQLite specific, %s: Can't set timeout for database %s: %s\n",
                     m_debugName, name, sqlite3_errmsg(raw));
    } else {
        std::fprintf(stderr, "SQLite specific, %s: Setting timeout %dms for database %s\n",
                     m_debugName, kSqliteBusyTimeoutMs, name);
    }
    m_sqlite = std::move(db);
}

int CDBoperations::getAutoCommit(int& mode) {
    SQLULEN value = 0;
    m_rc = m_hdbc != SQL_NULL_HDBC
               ? SQLGetConnectAttr(m_hdbc, SQL_ATTR_AUTOCOMMIT, &value, 0, nullptr)
               : SQL_INVALID_HANDLE;
    if (!Succeeded(static_cast<SQLRETURN>(m_rc)) && m_rc != SQL_NO_DATA) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), std::string());
        return -1;
    }
    mode = value == SQL_AUTOCOMMIT_ON ? 1 : 0;
    return 0;
}

int CDBoperations::setAutoCommit(bool on) {
    const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    m_rc = m_hdbc != SQL_NULL_HDBC ? SQLSetConnectAttr(m_hdbc, SQL_ATTR_AUTOCOMMIT,
                                                       reinterpret_cast<SQLPOINTER>(value), 0)
                                   : SQL_INVALID_HANDLE;
    if (!Succeeded(static_cast<SQLRETURN>(m_rc)) && m_rc != SQL_NO_DATA) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), std::string());
        return -1;
    }
    return 0;
}

int CDBoperations::commitTransaction() {
    m_rc = m_hdbc != SQL_NULL_HDBC ? SQLEndTran(SQL_HANDLE_DBC, m_hdbc, SQL_COMMIT)
                                   : SQL_INVALID_HANDLE;
    if (!Succeeded(static_cast<SQLRETURN>(m_rc)) && m_rc != SQL_NO_DATA) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), std::string());
        return -1;
    }
    return 0;
}
