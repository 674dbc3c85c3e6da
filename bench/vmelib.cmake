# KOVRAVMElib against the virtual crate: single cycles, lists and block reads, each beside the
# bare socket exchange that carries the same bytes.
add_library(vmelib-bench-crate STATIC ${CMAKE_CURRENT_LIST_DIR}/vmelib_crate.cpp)
target_include_directories(vmelib-bench-crate PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vmelib-bench-crate PUBLIC vmecrate-launch PRIVATE nimbra-warnings)

add_executable(vmelib-bench-cycles ${CMAKE_CURRENT_LIST_DIR}/vmelib_cycles.cpp)
target_link_libraries(vmelib-bench-cycles PRIVATE vmelib-bench-crate KOVRAVMElib nimbra-warnings)

add_executable(vmelib-bench-blocks ${CMAKE_CURRENT_LIST_DIR}/vmelib_blocks.cpp)
target_link_libraries(vmelib-bench-blocks PRIVATE vmelib-bench-crate KOVRAVMElib nimbra-warnings)
