#include "ZorctlStatus.h"

#include <DBconnection.h>
#include <PeerSupport.h>
#include <Process.h>
#include <ProcessDatabase.h>

#include <algorithm>

namespace zorctl {

namespace {

// One statement handle, freed whichever way the read ends.
class Statement {
  public:
    explicit Statement(SQLHDBC connection) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &m_handle)))
            m_handle = SQL_NULL_HSTMT;
    }
    ~Statement() {
        if (m_handle != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT Handle() const { return m_handle; }

  private:
    SQLHSTMT m_handle = SQL_NULL_HSTMT;
};

}  // namespace

std::optional<std::vector<RegisteredProcess>> ReadRegisteredProcesses(const std::string& dsn,
                                                                      std::string& error) {
    CDBconnection connection;
    connection.setDsn(dsn.c_str());
    connection.setUser(kSuiteUser);
    connection.setPassword(kSuitePassword);
    if (connection.connect() != 0) {
        error = "cannot log in to the data source \"" + dsn +
                "\" (is it in the odbc.ini that ODBCINI and ODBCSYSINI point at, and does its "
                "database file exist?)";
        return std::nullopt;
    }
    Statement statement(connection.Handle());
    SQLINTEGER pid = 0;
    char name[256] = {};
    SQLLEN pidIndicator = 0, nameIndicator = 0;
    const char* query = "SELECT pid, proc_name FROM pid_list ORDER BY proc_name, pid";
    bool ok =
        statement.Handle() != SQL_NULL_HSTMT &&
        SQL_SUCCEEDED(SQLExecDirect(
            statement.Handle(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(query)), SQL_NTS)) &&
        SQL_SUCCEEDED(
            SQLBindCol(statement.Handle(), 1, SQL_C_SLONG, &pid, sizeof pid, &pidIndicator)) &&
        SQL_SUCCEEDED(
            SQLBindCol(statement.Handle(), 2, SQL_C_CHAR, name, sizeof name, &nameIndicator));
    std::vector<RegisteredProcess> rows;
    while (ok) {
        const SQLRETURN rc = SQLFetch(statement.Handle());
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) {
            ok = false;
            break;
        }
        RegisteredProcess row;
        row.pid = pidIndicator == SQL_NULL_DATA ? 0 : static_cast<int>(pid);
        row.name = nameIndicator == SQL_NULL_DATA ? "" : std::string(name);
        row.alive = row.pid > 0 && platform::IsProcessRunning(row.pid);
        rows.push_back(row);
    }
    if (!ok) {
        error = "cannot read the process-id list (table pid_list) of \"" + dsn + "\"";
        return std::nullopt;
    }
    return rows;
}

std::string FormatStatus(const std::vector<RegisteredProcess>& rows) {
    size_t width = 4;  // "NAME"
    // Names come from the database: shown escaped, one line each.
    for (const auto& row : rows) width = std::max(width, peer::Escape(row.name).size());
    auto line = [width](const std::string& name, const std::string& pid, const std::string& state) {
        std::string text = name + std::string(width - name.size() + 2, ' ');
        text += pid + std::string(pid.size() < 10 ? 10 - pid.size() : 1, ' ');
        return text + state + "\n";
    };
    std::string out = line("NAME", "PID", "STATE");
    for (const auto& row : rows)
        out += line(peer::Escape(row.name), std::to_string(row.pid), row.alive ? "alive" : "gone");
    return out;
}

}  // namespace zorctl
