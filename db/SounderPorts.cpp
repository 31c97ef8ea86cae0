// Sounder configuration ports, handed out from table inst_sounders through
// the direct SQLite handle of a database object.

#include <sqlite3.h>

#include <cstdio>
#include <memory>

#include "DBoperations.h"

namespace {

constexpr const char* kAllocationError =
    "\n#####Instantiation of echo sounder error, continues processing!\n";
// A wrapped port is stored this far below the limit.
constexpr long long kWrapBelowLimit = 500;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

void ReportAllocationError() {
    std::fputs(kAllocationError, stderr);
}

}  // namespace

int CDBoperations::runSqliteStatement(const char* statement, int& value) {
    const char* const text = statement != nullptr ? statement : "";
    sqlite3* const db = m_sqlite.get();
    if (db == nullptr) {
        std::fprintf(stderr, "Can't prepare SQLite statement %s: %s\n", text, "no database handle");
        return -1;
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, text, -1, &raw, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "Can't prepare SQLite statement %s: %s\n", text, sqlite3_errmsg(db));
        return -1;
    }
    const std::unique_ptr<sqlite3_stmt, StatementFinalizer> prepared(raw);
    if (!prepared) return 0;  // only blanks or a comment: nothing to run

    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_ROW) {
        value = sqlite3_column_int(raw, 0);
        return 1;
    }
    if (rc == SQLITE_DONE) return 0;
    std::fprintf(stderr, "Can't execute SQLite statement %s: %s\n", text, sqlite3_errmsg(db));
    return -1;
}

int CDBoperations::allocateSounderPort(int& port) {
    if (!m_sqlite) {
        port = 0;
        return 0;
    }

    // An open ODBC transaction on the same file would hold its lock against
    // ours: commit it and run without one. If the mode cannot be read it is
    // taken as on, and left alone.
    int mode = 1;
    const bool autoCommitWasOff = getAutoCommit(mode) == 0 && mode == 0;
    if (autoCommitWasOff) {
        commitTransaction();
        setAutoCommit(true);
    }

    port = -1;
    int ignored = 0;
    // IMMEDIATE takes the write lock before the read, so a second process
    // waits (busy time-out) instead of reading the same port.
    if (runSqliteStatement("BEGIN IMMEDIATE;", ignored) < 0) {
        ReportAllocationError();
    } else {
        int read = -1;
        if (runSqliteStatement("SELECT DISTINCT curr_conf_port FROM inst_sounders;", read) < 0) {
            ReportAllocationError();
        } else {
            int limit = 0;
            const int limitRead =
                runSqliteStatement("SELECT curr_conf_port_lim FROM inst_sounders;", limit);
            if (limitRead < 0) ReportAllocationError();
            if (limitRead == 1 && read > limit) {
                char wrap[1000];
                std::snprintf(wrap, sizeof wrap, "UPDATE inst_sounders SET curr_conf_port = %lld;",
                              static_cast<long long>(limit) - kWrapBelowLimit);
                if (runSqliteStatement(wrap, ignored) < 0) ReportAllocationError();
            }
            if (runSqliteStatement("UPDATE inst_sounders SET curr_conf_port = curr_conf_port + "
                                   "(SELECT curr_port_incr FROM inst_sounders);",
                                   ignored) < 0) {
                ReportAllocationError();
            }
        }
        // What succeeded is kept, as it would be without the transaction.
        if (runSqliteStatement("COMMIT;", ignored) < 0) {
            ReportAllocationError();
            // Nothing was stored: the port read may be handed out again, so
            // it must not be handed out now.
            if (sqlite3_get_autocommit(m_sqlite.get()) == 0) {
                runSqliteStatement("ROLLBACK;", ignored);
            }
            read = -1;
        }
        port = read;
    }

    if (autoCommitWasOff) setAutoCommit(false);
    return 0;
}
