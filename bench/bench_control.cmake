target_link_libraries(${name} PRIVATE control net fsm db messages Qt5::Core)
