# The suite-database fixture joins test_support: a fresh database and a
# private ODBC data source per test.
target_sources(test_support PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SuiteDb.cpp)
target_link_libraries(test_support PUBLIC platform PkgConfig::SQLITE3)
target_compile_definitions(test_support PRIVATE ZOR_SUITE_SOURCE_DIR="${CMAKE_SOURCE_DIR}/suite")
