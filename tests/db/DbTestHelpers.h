#pragma once
// Shared pieces of the database tests.

#include <gtest/gtest.h>

#include <string>

#include "DBoperations.h"
#include "SuiteDb.h"

namespace zortest {

inline int Login(CDBoperations& db, const char* newName = nullptr) {
    return db.connectDatabase(SuiteDb::kDsn, SuiteDb::kUser, SuiteDb::kPassword, newName);
}

// Logs in with standard error captured, so that the SQLite lines do not
// clutter the test output; returns them.
inline std::string LoginQuietly(CDBoperations& db, int& result, const char* newName = nullptr) {
    testing::internal::CaptureStderr();
    result = Login(db, newName);
    return testing::internal::GetCapturedStderr();
}

inline void LoginOrFail(CDBoperations& db, const char* newName = nullptr) {
    int result = -1;
    const std::string err = LoginQuietly(db, result, newName);
    ASSERT_EQ(result, 0) << "debug file: " << SuiteDb::ReadFile(db.DebugFilePath())
                         << "\nstandard error: " << err;
}

}  // namespace zortest
