// Every statement ZOR runs through ODBC, with its exact text and the fields
// it fills. Each follows the standard steps of CDBoperations: compose,
// allocate, bind, execute, fetch, free; failures are reported in the debug
// file and return -1. A record is written only on success.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "DBoperations.h"
#include "DbBinding.h"
#include "TranslateChar.h"

using dbdetail::AsInt;
using dbdetail::Binding;
using dbdetail::IntColumn;
using dbdetail::IsPlainName;
using dbdetail::Quoted;
using dbdetail::Succeeded;
using dbdetail::TextColumn;

namespace {

// Copies a field that is already zero-terminated within its width.
template <std::size_t N>
void CopyField(char (&to)[N], const char (&from)[N]) {
    std::memcpy(to, from, N);
    to[N - 1] = '\0';
}

constexpr int kMillisPerDay = 86400000;

}  // namespace

int CDBoperations::getDrzProcParams(int soundertype, int serialnumber, DrzProcParams& params) {
    std::string statement;
    if (!Compose(statement, kStatementChars,
                 "select id,processname,drz_path,drz_argument_str,drz_send_socket_id,"
                 "drz_recv_socket_id from zor_proc_param_drz_v where soundertype='%i' and "
                 "serialnumber ='%i'",
                 soundertype, serialnumber)) {
        return -1;
    }
    DrzProcParams row;
    SQLUINTEGER id = 0, send = 0, recv = 0;
    std::vector<Binding> columns{IntColumn(id),
                                 TextColumn(row.processname),
                                 TextColumn(row.drz_path),
                                 TextColumn(row.drz_argument_str),
                                 IntColumn(send),
                                 IntColumn(recv)};
    if (QueryFirstRow(statement, columns) != 0) return -1;
    row.id = AsInt(id);
    row.drz_send_socket_id = AsInt(send);
    row.drz_recv_socket_id = AsInt(recv);
    params = row;
    return 0;
}

int CDBoperations::getXdrzProcParams(int soundertype, int serialnumber, XdrzProcParams& params) {
    std::string statement;
    if (!Compose(statement, kStatementChars,
                 "select processname,xdrz_path,xdrz_argument_str,xdrz_send_socket_id,"
                 "xdrz_recv_socket_id from zor_proc_param_xdrz_v where soundertype='%i' and "
                 "serialnumber ='%i'",
                 soundertype, serialnumber)) {
        return -1;
    }
    XdrzProcParams row;
    SQLUINTEGER send = 0, recv = 0;
    std::vector<Binding> columns{TextColumn(row.processname), TextColumn(row.xdrz_path),
                                 TextColumn(row.xdrz_argument_str), IntColumn(send),
                                 IntColumn(recv)};
    if (QueryFirstRow(statement, columns) != 0) return -1;
    row.xdrz_send_socket_id = AsInt(send);
    row.xdrz_recv_socket_id = AsInt(recv);
    params = row;
    return 0;
}

int CDBoperations::getDrzAllParams(const std::string& processname, DrzAllParams& params) {
    std::string statement;
    if (!Compose(statement, kStatementChars,
                 "select soundertype, serialnumber, rawdata_location, rawdata_location_structure, "
                 "file_name_structure, comment from drz_all_parameters_v where "
                 "processname=upper('%s')",
                 Quoted(processname).c_str())) {
        return -1;
    }
    DrzAllParams row;
    SQLUINTEGER type = 0, serial = 0;
    std::vector<Binding> columns{IntColumn(type),
                                 IntColumn(serial),
                                 TextColumn(row.rawdata_location),
                                 TextColumn(row.rawdata_location_structure),
                                 TextColumn(row.file_name_structure),
                                 TextColumn(row.comment)};
    if (QueryFirstRow(statement, columns) != 0) return -1;
    row.soundertype = AsInt(type);
    row.serialnumber = AsInt(serial);
    params = row;
    return 0;
}

std::optional<std::string> CDBoperations::getMessageText(int number, int language) {
    std::string statement;
    if (!Compose(statement, kStatementChars,
                 "select mess from messages where lang = %d and number = %d", language, number)) {
        return std::nullopt;
    }
    char mess[dbwidth::kMessage + 1] = {};
    std::vector<Binding> columns{TextColumn(mess)};

    dbdetail::StatementScope scope(m_hstmt);
    m_rc = m_hdbc != SQL_NULL_HDBC ? SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &m_hstmt)
                                   : SQL_INVALID_HANDLE;
    if (!Succeeded(m_rc)) {
        m_hstmt = SQL_NULL_HSTMT;
        ReportFailure(kFailAlloc, static_cast<SQLRETURN>(m_rc), statement);
        return std::nullopt;
    }
    Binding& column = columns[0];
    m_rc = SQLBindCol(m_hstmt, 1, column.cType, column.buffer, column.size, &column.indicator);
    if (!Succeeded(m_rc)) {
        ReportFailure(kFailBind, static_cast<SQLRETURN>(m_rc), statement);
        return std::nullopt;
    }
    m_rc = SQLExecDirect(m_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                         SQL_NTS);
    if (!Succeeded(m_rc)) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), statement);
        return std::nullopt;
    }
    // Only a whole text will do: no row, an error or a cut text all give the
    // placeholder, which the operator sees instead of a wrong text.
    m_rc = SQLFetch(m_hstmt);
    std::string text;
    if (m_rc == SQL_SUCCESS) {
        column.ClearIfNull();
        text = mess;
    } else {
        text = "**** Error retrieving message no: " + std::to_string(number) +
               " from database ****\r\n";
    }
    if (language == 3 && m_translator) text = m_translator->translateSequences(text.c_str());
    if (text.size() > dbwidth::kMessage) text.resize(dbwidth::kMessage);
    return text;
}

int CDBoperations::getProcessPid(const std::string& processname, int& pid) {
    std::string statement;
    if (!Compose(statement, kStatementChars, "select pid from process where processname = '%s'",
                 Quoted(processname).c_str())) {
        return -1;
    }
    SQLUINTEGER value = 0;
    bool gotRow = false;
    std::vector<Binding> columns{IntColumn(value)};
    if (QueryAllRows(statement, columns, [&gotRow]() {
            gotRow = true;
            return false;
        }) != 0) {
        return -1;
    }
    pid = gotRow ? AsInt(value) : 0;
    return 0;
}

int CDBoperations::getDbVersion(int& version, std::string& versionName) {
    if (m_hdbc == SQL_NULL_HDBC) return -1;
    const std::string statement = "SELECT current_version,current_versionname FROM pel_version";
    dbdetail::StatementScope scope(m_hstmt);
    m_rc = SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &m_hstmt);
    if (!Succeeded(m_rc)) {
        m_hstmt = SQL_NULL_HSTMT;
        ReportFailure(kFailAlloc, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    SQLUINTEGER number = 0;
    char name[dbwidth::kVersionName + 1] = {};
    std::vector<Binding> columns{IntColumn(number), TextColumn(name)};
    const int codes[] = {kFailAlloc, kFailBind};
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Binding& column = columns[i];
        m_rc = SQLBindCol(m_hstmt, static_cast<SQLUSMALLINT>(i + 1), column.cType, column.buffer,
                          column.size, &column.indicator);
        if (!Succeeded(m_rc)) {
            ReportFailure(codes[i], static_cast<SQLRETURN>(m_rc), statement);
            return -1;
        }
    }
    m_rc = SQLExecDirect(m_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                         SQL_NTS);
    if (!Succeeded(m_rc)) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    SQLSMALLINT columnCount = 0;
    m_rc = SQLNumResultCols(m_hstmt, &columnCount);
    if (!Succeeded(m_rc)) {
        ReportFailure(kFailColumns, static_cast<SQLRETURN>(m_rc), statement);
        return -1;
    }
    // The newest version is the last row.
    bool gotRow = false;
    int lastNumber = 0;
    std::string lastName;
    for (;;) {
        m_rc = SQLFetch(m_hstmt);
        if (m_rc == SQL_NO_DATA) break;
        if (!Succeeded(m_rc)) {
            ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), statement);
            return -1;
        }
        for (Binding& column : columns) column.ClearIfNull();
        gotRow = true;
        lastNumber = AsInt(number);
        lastName = name;
    }
    if (!gotRow) {
        ReportFailure(kFailExecute, SQL_NO_DATA, statement);
        return -1;
    }
    version = lastNumber;
    versionName = lastName;
    return 0;
}

int CDBoperations::getRs2UdpParams(Rs2UdpParams& params) {
    const std::string statement =
        "select rs_pid, rs_path, rs_argument_str, rs_port, comment from rs2udp_parameters";
    Rs2UdpParams row;
    SQLUINTEGER pid = 0;
    std::vector<Binding> columns{IntColumn(pid), TextColumn(row.rs_path),
                                 TextColumn(row.rs_argument_str), TextColumn(row.rs_port),
                                 TextColumn(row.comment)};
    if (QueryFirstRow(statement, columns) != 0) return -1;
    row.rs_pid = AsInt(pid);
    params = row;
    return 0;
}

int CDBoperations::getShipParameter(const std::string& column, std::string& value) {
    std::string statement;
    if (!Compose(statement, kStatementChars, "select %s from ship_parameters", column.c_str())) {
        return -1;
    }
    // The column name stands unquoted, so only a plain name is accepted.
    if (!IsPlainName(column)) {
        ReportRefused("not a plain column name", statement);
        return -1;
    }
    char field[dbwidth::kShipParameter + 1] = {};
    std::vector<Binding> columns{TextColumn(field)};
    if (QueryFirstRow(statement, columns) != 0) return -1;
    value = field;
    return 0;
}

int CDBoperations::getProcessSockets(const std::string& processname,
                                     std::vector<ProcessSocket>& sockets) {
    std::string statement;
    if (!Compose(statement, kStatementChars,
                 "select id, ip, port, udp_tcp, read_write, server_client, pid from "
                 "process_socket_v where process_socket_v.processname=upper('%s')",
                 Quoted(processname).c_str())) {
        return -1;
    }
    ProcessSocket row;
    SQLUINTEGER id = 0, port = 0, udpTcp = 0, readWrite = 0, serverClient = 0, pid = 0;
    std::vector<Binding> columns{IntColumn(id),     TextColumn(row.ip),   IntColumn(port),
                                 IntColumn(udpTcp), IntColumn(readWrite), IntColumn(serverClient),
                                 IntColumn(pid)};
    std::vector<ProcessSocket> found;
    bool allocated = true;
    const int result = QueryAllRows(statement, columns, [&]() {
        ProcessSocket socket = row;
        socket.id = AsInt(id);
        socket.port = AsInt(port);
        socket.udp_tcp = AsInt(udpTcp);
        socket.read_write = AsInt(readWrite);
        socket.server_client = AsInt(serverClient);
        socket.pid = AsInt(pid);
        try {
            found.push_back(socket);
        } catch (const std::bad_alloc&) {
            allocated = false;
            return false;
        }
        return true;
    });
    if (result != 0 || !allocated) return -1;
    sockets = std::move(found);
    return 0;
}

int CDBoperations::GetAuxProcParams(const std::string& statement, AuxProcParams& params) {
    AuxProcParams row;
    std::vector<Binding> columns{TextColumn(row.path), TextColumn(row.argument_str)};
    if (QueryFirstRow(statement, columns) != 0) return -1;
    params = row;
    return 0;
}

int CDBoperations::getAthProcParams(const std::string& user, AuxProcParams& params) {
    std::string statement;
    if (!Compose(statement, kAuxStatementChars,
                 "SELECT ath_path, ath_argument_str FROM ath_proc_param, users WHERE users.name = "
                 "'%s' AND users.id = ath_proc_param.id ",
                 Quoted(user).c_str()))
        return -1;
    return GetAuxProcParams(statement, params);
}

int CDBoperations::getSrhProcParams(const std::string& user, AuxProcParams& params) {
    std::string statement;
    if (!Compose(statement, kAuxStatementChars,
                 "SELECT srh_path, srh_argument_str FROM srh_proc_param, users WHERE users.name = "
                 "'%s' AND users.id = srh_proc_param.id ",
                 Quoted(user).c_str()))
        return -1;
    return GetAuxProcParams(statement, params);
}

int CDBoperations::getTerratecProcParams(const std::string& user, AuxProcParams& params) {
    std::string statement;
    if (!Compose(
            statement, kAuxStatementChars,
            "SELECT terratec_path, terratec_argument_str FROM terratec_proc_param, users WHERE "
            "users.name = '%s' AND users.id = terratec_proc_param.id ",
            Quoted(user).c_str()))
        return -1;
    return GetAuxProcParams(statement, params);
}

int CDBoperations::registerPid(int pid, const std::string& processname) {
    const std::string name = Quoted(processname);
    std::string removal, insertion;
    if (!Compose(removal, kStatementChars, "DELETE FROM pid_list WHERE proc_name = '%s'",
                 name.c_str()) ||
        !Compose(insertion, kStatementChars,
                 "INSERT INTO pid_list(pid, proc_name) values(%i, '%s')", pid, name.c_str())) {
        return -1;
    }
    dbdetail::StatementScope scope(m_hstmt);
    m_rc = m_hdbc != SQL_NULL_HDBC ? SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &m_hstmt)
                                   : SQL_INVALID_HANDLE;
    if (!Succeeded(m_rc)) {
        m_hstmt = SQL_NULL_HSTMT;
        ReportFailure(kFailAlloc, static_cast<SQLRETURN>(m_rc), removal);
        return -1;
    }
    // Deleting nothing (SQL_NO_DATA) is fine: the name was not registered.
    m_rc = SQLExecDirect(m_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(removal.c_str())),
                         SQL_NTS);
    if (!Succeeded(m_rc) && m_rc != SQL_NO_DATA) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), removal);
        return -1;
    }
    m_rc = SQLFreeStmt(m_hstmt, SQL_RESET_PARAMS);
    if (!Succeeded(m_rc)) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), removal);
        return -1;
    }
    m_rc = SQLExecDirect(m_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(insertion.c_str())),
                         SQL_NTS);
    if (!Succeeded(m_rc)) {
        ReportFailure(kFailExecute, static_cast<SQLRETURN>(m_rc), insertion);
        return -1;
    }
    return 0;
}

int CDBoperations::insertArrivedMessageRow(int dateYYYYMMDD, int millisecSinceMidnight,
                                           int number) {
    std::string statement;
    if (!Compose(statement, kStatementChars,
                 "INSERT INTO arrivedMessages(dateYYYYMMDD,millisecSinceMidnight,number) values "
                 "(%d,%d,%d)",
                 dateYYYYMMDD, millisecSinceMidnight, number)) {
        return -1;
    }
    return Execute(statement);
}

int CDBoperations::insertArrivedMessage(int dateYYYYMMDD, int timeHHMMSS, int millis, int number,
                                        const std::string& text, bool noText) {
    const int hours = timeHHMMSS / 10000;
    const int minutes = timeHHMMSS / 100 % 100;
    const int seconds = timeHHMMSS % 100;
    int stamp = (hours * 3600 + minutes * 60 + seconds) * 1000 + millis;
    // The stamp keys a report's text row, so within a day each report takes
    // a stamp of its own: one that collides with a stamp already used today
    // moves on to the next free millisecond. Stamp 0 is never used: callers
    // read 0 as "suppressed", the filter as "never logged". The last
    // millisecond of the day is the ceiling (reports there share it).
    const bool sameDay = dateYYYYMMDD == m_repeat.lastDate;
    if (stamp == 0) stamp = 1;
    if (stamp == m_repeat.lastStamp) ++stamp;
    if (sameDay) {
        while (stamp < kMillisPerDay - 1 && m_repeat.usedStamps.count(stamp) != 0) ++stamp;
    }
    if (stamp >= kMillisPerDay) stamp = kMillisPerDay - 1;

    // A seeded entry (stamp 0) behaves like no entry at all.
    const auto last = m_repeat.lastLogged.find(number);
    if (last == m_repeat.lastLogged.end() || last->second == 0) {
        if (!noText) m_repeat.lastText[number] = text;
    } else if (std::abs(last->second - stamp) < m_repeat.windowMs) {
        if (noText) return 0;
        const auto previous = m_repeat.lastText.find(number);
        const std::string& lastText =
            previous != m_repeat.lastText.end() ? previous->second : std::string(" ");
        if (lastText == text) return 0;
        m_repeat.lastText[number] = text;
    }

    m_repeat.lastStamp = stamp;
    if (!sameDay) {
        m_repeat.usedStamps.clear();
        m_repeat.lastDate = dateYYYYMMDD;
    }
    m_repeat.usedStamps.insert(stamp);
    m_repeat.lastLogged[number] = stamp;
    return insertArrivedMessageRow(dateYYYYMMDD, stamp, number) == 0 ? stamp : -1;
}

int CDBoperations::insertArrivedMessageString(int dateYYYYMMDD, int millisecSinceMidnight,
                                              int language, const std::string& text) {
    std::string stored = text.substr(0, std::min(text.find('\0'), text.size()));
    if (stored.size() > kMessageTextChars) stored.resize(kMessageTextChars);
    std::string statement;
    // Even a text of nothing but quotes fits once they are doubled.
    if (!Compose(statement, kMessageStatementChars,
                 "INSERT INTO arrivedMessagesString(dateYYYYMMDD,millisecSinceMidnight,lang,mess) "
                 "values (%d,%d,%d,'%s')",
                 dateYYYYMMDD, millisecSinceMidnight, language, Quoted(stored).c_str())) {
        return -1;
    }
    return Execute(statement);
}
