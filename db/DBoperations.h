#pragma once
// One login to the suite database and every statement ZOR runs on it.
//
// Each thread that queries owns its own object: one statement handle, no
// lock. Failures never throw; an operation returns -1 (or its documented
// failure value) and writes a report to the object's debug file in the
// temporary folder ("db_<debugName>_<n>.txt", rotated over 40 names).
//
// Text parameters are quoted safely (single quotes doubled) and a statement
// that would not fit its buffer is refused with a report instead of being
// cut, so no parameter can change what a statement reads or writes.

#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DBconnection.h"
#include "DbRecords.h"

struct sqlite3;
class CTranslateChar;
namespace dbdetail {
struct Binding;
}

// Storage of the repeat filter that message logging applies: the last
// millisecond stamp used, per message number the stamp and text of its last
// logging, and the window within which a repeat is suppressed.
struct MessageRepeatFilter {
    int lastStamp = 0;
    int lastDate = 0;                     // date of the last stamp used
    std::set<int> usedStamps;             // stamps used on lastDate
    std::map<int, int> lastLogged;        // number -> stamp of last logging
    std::map<int, std::string> lastText;  // number -> last text logged
    int windowMs = 0;
};

class CDBoperations {
  public:
    // Longest debug name; a longer one is cut.
    static constexpr std::size_t kDebugNameChars = 31;
    // Statement buffers (characters, without the terminating zero).
    static constexpr std::size_t kStatementChars = 399;
    static constexpr std::size_t kAuxStatementChars = 511;
    static constexpr std::size_t kMessageStatementChars = 999;
    // Longest text stored with a message.
    static constexpr std::size_t kMessageTextChars = 400;
    // Repeat window set at login, and the busy time-out of the direct
    // SQLite handle.
    static constexpr int kRepeatWindowMs = 10000;
    static constexpr int kSqliteBusyTimeoutMs = 10000;
    // Number of rotating debug files per debug name.
    static constexpr int kDebugFiles = 40;

    // Failure codes written to the debug file.
    enum FailureCode { kFailExecute = 505, kFailAlloc = 506, kFailBind = 508, kFailColumns = 509 };

    explicit CDBoperations(const char* debugName);
    virtual ~CDBoperations();

    CDBoperations(const CDBoperations&) = delete;
    CDBoperations& operator=(const CDBoperations&) = delete;

    // Logs in and, when the driver names its database file, opens that file
    // directly through SQLite as well. newDebugName may be null. 0 or -1.
    int connectDatabase(const char* dsn, const char* user, const char* password,
                        const char* newDebugName);

    // Appends the text verbatim to the debug file (opened on first use).
    // Always 0.
    int writeDebugText(const char* text);

    // Autocommit of the ODBC connection: mode 1 = on, 0 = off. 0 or -1.
    int getAutoCommit(int& mode);
    int setAutoCommit(bool on);
    int commitTransaction();

    // ---- query catalogue; each 0 on success, -1 on failure --------------
    int getDrzProcParams(int soundertype, int serialnumber, DrzProcParams& params);
    int getXdrzProcParams(int soundertype, int serialnumber, XdrzProcParams& params);
    int getDrzAllParams(const std::string& processname, DrzAllParams& params);
    // The text of a message, translated for language 3 and cut to 399
    // characters; a missing or over-long text gives the "**** Error
    // retrieving message no: ..." text. Nothing on a database failure.
    std::optional<std::string> getMessageText(int number, int language);
    // A name without a row gives pid 0 and success.
    int getProcessPid(const std::string& processname, int& pid);
    // The last row of pel_version. Outputs untouched on failure.
    int getDbVersion(int& version, std::string& versionName);
    int getRs2UdpParams(Rs2UdpParams& params);
    // column must be a plain column name (letters, digits, '_').
    int getShipParameter(const std::string& column, std::string& value);
    // All sockets of a process, in database order; none gives an empty list
    // and success. The list is written only on success.
    int getProcessSockets(const std::string& processname, std::vector<ProcessSocket>& sockets);
    int getAthProcParams(const std::string& user, AuxProcParams& params);
    int getSrhProcParams(const std::string& user, AuxProcParams& params);
    int getTerratecProcParams(const std::string& user, AuxProcParams& params);
    // Leaves exactly one pid_list row for the name, holding this pid.
    int registerPid(int pid, const std::string& processname);
    // The text is cut to its first 400 characters.
    int insertArrivedMessageString(int dateYYYYMMDD, int millisecSinceMidnight, int language,
                                   const std::string& text);

    // Logs a message number in arrivedMessages unless the repeat filter
    // suppresses it: the same number again within the repeat window, either
    // without text (noText) or with the text it was last logged with. The
    // stamp is milliseconds since midnight from timeHHMMSS and millis, made
    // unique against the previous one. Returns the stamp used, 0 when
    // suppressed, -1 when the insert failed.
    int insertArrivedMessage(int dateYYYYMMDD, int timeHHMMSS, int millis, int number,
                             const std::string& text, bool noText);

    // ---- sounder port allocation, on the direct SQLite handle ------------
    // Hands out the next sounder configuration port of inst_sounders and
    // advances the stored one by its increment, wrapping it below the limit
    // once it has passed it. Read and updates are one SQLite transaction, so
    // processes allocating at the same moment never get the same port.
    // port: the number handed out; -1 when the table could not be read or
    // holds no row; 0 without a SQLite handle. Failures go to standard
    // error. Always returns 0.
    int allocateSounderPort(int& port);
    // Prepares, steps once and finalises one statement on the SQLite handle.
    // 1: a row came back, its first column is in value; 0: done without a
    // row, value untouched; -1: failed (reported on standard error).
    int runSqliteStatement(const char* statement, int& value);

    // ---- for message logging and port allocation ------------------------
    MessageRepeatFilter& RepeatFilter() { return m_repeat; }
    // The direct SQLite handle; null when the driver named no file or it
    // could not be opened.
    sqlite3* SqliteHandle() const { return m_sqlite.get(); }
    bool LoggedIn() const { return m_hdbc != SQL_NULL_HDBC; }

    const char* DebugName() const { return m_debugName; }
    // Path of the open debug file; empty until the first report.
    const std::string& DebugFilePath() const { return m_debugPath; }
    // Path of debug file number n for a debug name.
    static std::string DebugFileName(const char* debugName, int n);

  private:
    using Binding = dbdetail::Binding;
    struct SqliteCloser {
        void operator()(sqlite3* db) const;
    };
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void SetDebugName(const char* name);
    void OpenSqlite();
    // Formats into a buffer of `capacity` characters; refuses (with a
    // report) and returns false when the statement does not fit.
    bool Compose(std::string& out, std::size_t capacity, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    void ReportFailure(int code, SQLRETURN rc, const std::string& statement);
    void ReportRefused(const char* reason, const std::string& statement);
    // The standard steps: allocate, bind, execute, fetch the first row
    // (required). 0 or -1.
    int QueryFirstRow(const std::string& statement, std::vector<Binding>& columns);
    // Allocate, bind, execute, then every row until no more, each row handed
    // to onRow. 0 or -1.
    // onRow returns false to stop early.
    int QueryAllRows(const std::string& statement, std::vector<Binding>& columns,
                     const std::function<bool()>& onRow);
    // Allocate and execute a statement without result columns.
    int Execute(const std::string& statement);
    int insertArrivedMessageRow(int dateYYYYMMDD, int millisecSinceMidnight, int number);
    int GetAuxProcParams(const std::string& statement, AuxProcParams& params);

    std::unique_ptr<CDBconnection> m_connection;
    SQLHDBC m_hdbc = SQL_NULL_HDBC;
    SQLHSTMT m_hstmt = SQL_NULL_HSTMT;
    int m_rc = SQL_SUCCESS;
    char m_errorText[64] = {};
    MessageRepeatFilter m_repeat;
    std::unique_ptr<CTranslateChar> m_translator;
    char m_debugName[kDebugNameChars + 1] = {};
    std::string m_debugPath;
    std::unique_ptr<std::FILE, FileCloser> m_debugFile;
    std::unique_ptr<sqlite3, SqliteCloser> m_sqlite;
};
