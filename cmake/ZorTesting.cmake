# zor_add_test(NAME <name> SOURCES <files...> LIBS <libs...>
#              [NETNS] [PIDNS] [TSAN] [LABELS <labels...>] [TIMEOUT <s>])
#
# One GoogleTest executable registered as one CTest test.
#  NETNS  runs it in a private network namespace with loopback up, so tests
#         that bind the system's fixed ports never collide with each other
#         or with anything running on the machine.
#  PIDNS  also gives it a PID namespace of its own (implies NETNS): kills by
#         image name reach only its own processes, and whatever it leaves
#         running ends with it.
#  TSAN   marks it as part of the thread-sanitizer run (label "tsan").
set(ZOR_NETNS_RUN ${CMAKE_SOURCE_DIR}/scripts/netns-run)
# Fails a test program that ended before GoogleTest finished its run.
set(ZOR_GTEST_GUARD ${CMAKE_SOURCE_DIR}/scripts/gtest-guard)

function(zor_add_test)
  cmake_parse_arguments(T "NETNS;PIDNS;TSAN" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  set(labels ${T_LABELS})
  if(T_TSAN)
    list(APPEND labels tsan)
  endif()
  if(T_PIDNS)
    add_test(NAME ${T_NAME} COMMAND ${ZOR_NETNS_RUN} --pid ${ZOR_GTEST_GUARD} $<TARGET_FILE:${T_NAME}>)
    list(APPEND labels netns pidns)
  elseif(T_NETNS)
    add_test(NAME ${T_NAME} COMMAND ${ZOR_NETNS_RUN} ${ZOR_GTEST_GUARD} $<TARGET_FILE:${T_NAME}>)
    list(APPEND labels netns)
  else()
    add_test(NAME ${T_NAME} COMMAND ${ZOR_GTEST_GUARD} $<TARGET_FILE:${T_NAME}>)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}"
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp;UBSAN_OPTIONS=print_stacktrace=1;TSAN_OPTIONS=second_deadlock_stack=1")
  if(T_TSAN)
    set_property(GLOBAL APPEND PROPERTY ZOR_TSAN_TARGETS ${T_NAME})
  endif()
endfunction()
