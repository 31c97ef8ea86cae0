target_link_libraries(${name} PRIVATE control handler net fsm db messages Qt5::Core)
