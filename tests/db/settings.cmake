# Token store and survey settings: real files in a per-test folder.
zor_add_test(NAME test_tokens TSAN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tokens.cpp
  LIBS db PkgConfig::SQLITE3 Qt5::Core
  TIMEOUT 120)
target_include_directories(test_tokens PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform)
target_compile_definitions(test_tokens PRIVATE
  ZOR_LOCK_HOLDER="$<TARGET_FILE:lock_holder>"
  ZOR_DEMO_DATA="${CMAKE_SOURCE_DIR}/suite/demo-data")
add_dependencies(test_tokens lock_holder)

# Not in the thread-sanitizer run: QSettings objects of one file share
# Qt's internal cache under Qt's own (uninstrumented) locks, which the
# sanitizer reports as races.
zor_add_test(NAME test_survey
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_survey.cpp
  LIBS db Qt5::Core)
target_compile_definitions(test_survey PRIVATE ZOR_DEMO_DATA="${CMAKE_SOURCE_DIR}/suite/demo-data")
