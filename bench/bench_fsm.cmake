target_link_libraries(bench_fsm PRIVATE fsm)
