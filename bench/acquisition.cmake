# acquisition-bench: "Normal Read-out" into eight FIFO files through the library and the virtual
# crate, against a bare Unix-socket client and server carrying the same exchanges.
add_executable(acquisition-bench ${CMAKE_CURRENT_LIST_DIR}/acquisition_bench.cpp)
target_link_libraries(acquisition-bench PRIVATE tarvo-core vmecrate-launch nimbra-warnings)
