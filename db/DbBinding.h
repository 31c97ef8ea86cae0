#pragma once
// Internal helpers of the database operations: result-column bindings,
// the statement-handle guard and safe quoting of text parameters.

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace dbdetail {

inline bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}
inline bool Succeeded(int rc) {
    return Succeeded(static_cast<SQLRETURN>(rc));
}

// One result column bound to a fixed-size field.
struct Binding {
    SQLSMALLINT cType;
    SQLPOINTER buffer;
    SQLLEN size;
    SQLLEN indicator = 0;

    // The driver leaves a field untouched for a NULL value; it then reads as
    // zero or as an empty text instead of the previous row's value.
    void ClearIfNull() {
        if (indicator == SQL_NULL_DATA) std::memset(buffer, 0, static_cast<std::size_t>(size));
    }
};

inline Binding IntColumn(SQLUINTEGER& value) {
    return {SQL_C_ULONG, &value, sizeof value};
}

// A text field of N - 1 characters and its terminating zero; the driver
// cuts a longer value.
template <std::size_t N>
Binding TextColumn(char (&field)[N]) {
    return {SQL_C_CHAR, field, static_cast<SQLLEN>(N)};
}

inline int AsInt(SQLUINTEGER value) {
    return static_cast<int>(value);
}

// A text parameter placed inside single quotes: quotes are doubled so that
// the value stays one literal whatever it holds.
inline std::string Quoted(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\0') break;
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

// A name that may stand unquoted in a statement as a column name.
inline bool IsPlainName(const std::string& name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}

// Frees the object's statement handle when an operation ends, whichever way.
class StatementScope {
  public:
    explicit StatementScope(SQLHSTMT& handle) : m_handle(handle) {}
    ~StatementScope() {
        if (m_handle != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
        m_handle = SQL_NULL_HSTMT;
    }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

  private:
    SQLHSTMT& m_handle;
};

}  // namespace dbdetail
