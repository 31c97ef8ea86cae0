# Sounder port allocation on the direct SQLite handle, including two
# processes allocating at the same time (tests/db/port_allocator).
add_executable(port_allocator ${CMAKE_CURRENT_LIST_DIR}/port_allocator.cpp)
target_link_libraries(port_allocator PRIVATE db)

zor_add_test(NAME test_ports TIMEOUT 180
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ports.cpp
  LIBS db test_support)
target_compile_definitions(test_ports PRIVATE ZOR_PORT_ALLOCATOR="$<TARGET_FILE:port_allocator>")
add_dependencies(test_ports port_allocator)
