target_link_libraries(bench_fsm PRIVATE fsm)
target_compile_definitions(bench_fsm PRIVATE
  ZOR_SAMPLE_LOG_CONFIG="${CMAKE_SOURCE_DIR}/suite/demo-data/log4cplus_configureZOR.ini")
