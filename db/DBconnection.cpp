#include "DBconnection.h"

#include <cstring>

namespace {
// Seconds the driver may take for a login and for a request.
constexpr SQLULEN kTimeoutSeconds = 10;
}  // namespace

CDBconnection::CDBconnection() = default;

CDBconnection::~CDBconnection() {
    if (m_connected) {
        m_rc = SQLDisconnect(m_hdbc);
        if (!SQL_SUCCEEDED(m_rc)) {
            // A disconnect is refused while a transaction is open.
            SQLEndTran(SQL_HANDLE_DBC, m_hdbc, SQL_COMMIT);
            m_rc = SQLDisconnect(m_hdbc);
        }
        m_connected = false;
    }
    Release();
}

void CDBconnection::Release() {
    if (m_hdbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, m_hdbc);
    if (m_henv != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, m_henv);
    m_hdbc = SQL_NULL_HDBC;
    m_henv = SQL_NULL_HENV;
}

int CDBconnection::Store(std::unique_ptr<char[]>& target, const char* text) {
    if (text == nullptr) return -1;
    const std::size_t length = std::strlen(text);
    auto copy = std::make_unique<char[]>(length + 1);
    std::memcpy(copy.get(), text, length + 1);
    target = std::move(copy);
    return 0;
}

int CDBconnection::setDsn(const char* dsn) {
    return Store(m_dsn, dsn);
}
int CDBconnection::setUser(const char* user) {
    return Store(m_user, user);
}
int CDBconnection::setPassword(const char* password) {
    return Store(m_password, password);
}

int CDBconnection::connect() {
    if (m_connected) return 0;
    Release();
    m_rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_henv);
    if (!SQL_SUCCEEDED(m_rc)) {
        m_henv = SQL_NULL_HENV;
        return -1;
    }
    m_rc = SQLSetEnvAttr(m_henv, SQL_ATTR_ODBC_VERSION,
                         reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    if (SQL_SUCCEEDED(m_rc)) m_rc = SQLAllocHandle(SQL_HANDLE_DBC, m_henv, &m_hdbc);
    if (!SQL_SUCCEEDED(m_rc)) {
        m_hdbc = SQL_NULL_HDBC;
        Release();
        return -1;
    }
    // Drivers that do not support these answer with an error; that is fine.
    SQLSetConnectAttr(m_hdbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kTimeoutSeconds),
                      0);
    SQLSetConnectAttr(m_hdbc, SQL_ATTR_CONNECTION_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(kTimeoutSeconds), 0);

    auto text = [](const std::unique_ptr<char[]>& value) {
        return reinterpret_cast<SQLCHAR*>(value ? value.get() : const_cast<char*>(""));
    };
    m_rc =
        SQLConnect(m_hdbc, text(m_dsn), SQL_NTS, text(m_user), SQL_NTS, text(m_password), SQL_NTS);
    if (!SQL_SUCCEEDED(m_rc)) {
        Release();
        return -1;
    }
    m_connected = true;
    return 0;
}
