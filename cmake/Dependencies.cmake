# The libraries the system is built on, all from Debian packages.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

pkg_check_modules(ACE REQUIRED IMPORTED_TARGET ACE)
pkg_check_modules(LOG4CPLUS REQUIRED IMPORTED_TARGET log4cplus)
pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)
pkg_check_modules(ODBCINST REQUIRED IMPORTED_TARGET odbcinst)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)

find_package(Boost 1.74 REQUIRED COMPONENTS system)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network Sql)

if(ZOR_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(ZOR_BUILD_BENCH AND ZOR_SANITIZE STREQUAL "")
  find_package(benchmark REQUIRED)
endif()
