#pragma once
// Owns the ODBC environment and connection handles of one login.

#include <sql.h>
#include <sqlext.h>

#include <memory>

class CDBconnection {
  public:
    CDBconnection();
    // Disconnects (committing an open transaction if the first disconnect
    // is refused), then frees the handles.
    virtual ~CDBconnection();

    CDBconnection(const CDBconnection&) = delete;
    CDBconnection& operator=(const CDBconnection&) = delete;

    // Each stores a copy; a missing text returns -1 and keeps the old value.
    int setDsn(const char* dsn);
    int setUser(const char* user);
    int setPassword(const char* password);

    // 0 when connected, -1 otherwise (no diagnostic text is reported).
    int connect();

    SQLHDBC Handle() const { return m_hdbc; }
    int LastReturnCode() const { return m_rc; }

  private:
    static int Store(std::unique_ptr<char[]>& target, const char* text);
    void Release();

    SQLHENV m_henv = SQL_NULL_HENV;
    SQLHDBC m_hdbc = SQL_NULL_HDBC;
    bool m_connected = false;
    int m_rc = SQL_SUCCESS;
    std::unique_ptr<char[]> m_dsn;
    std::unique_ptr<char[]> m_user;
    std::unique_ptr<char[]> m_password;
};
