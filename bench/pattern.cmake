# pattern-bench: a 200,000-line sequence file, loaded and matched line by line with the system's
# inside-section pattern, against std::regex and RE2 running an equivalent pattern on the same lines.
pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET re2)
add_executable(pattern-bench ${CMAKE_CURRENT_LIST_DIR}/pattern_bench.cpp)
target_link_libraries(pattern-bench PRIVATE tarvo-core PkgConfig::RE2 nimbra-warnings)
