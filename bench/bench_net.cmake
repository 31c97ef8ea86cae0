target_link_libraries(${name} PRIVATE control net fsm)
