# window-bench: events per second of a run with the window open and its graph drawing, against
# the same run headless through tarvo-cli acquire, alternating in one run.
add_executable(window-bench ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
target_link_libraries(window-bench PRIVATE tarvo-ui nimbra-warnings)
target_compile_definitions(window-bench PRIVATE
    VMECRATE_SIM_PATH="$<TARGET_FILE:vmecrate-sim>"
    TARVO_CLI_PATH="$<TARGET_FILE:tarvo-cli>")
add_dependencies(window-bench vmecrate-sim tarvo-cli)
