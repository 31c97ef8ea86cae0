# The ODBC access layer, the query catalogue and the suite database script,
# against the real SQLite ODBC driver through a private data source.
zor_add_test(NAME test_db_odbc TIMEOUT 180
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_db_access.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_db_catalogue.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_db_messages.cpp
  LIBS db test_support PkgConfig::SQLITE3)
zor_add_test(NAME test_suite_script TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_suite_script.cpp
  LIBS db test_support)
zor_add_test(NAME test_db_missing_dsn TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_db_missing_dsn.cpp
  LIBS db test_support)
