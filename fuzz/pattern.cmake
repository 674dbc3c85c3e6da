# The pattern engine's sources are compiled into the target so that the sanitizers see them.
set(pattern_src ${CMAKE_SOURCE_DIR}/app/pattern)
set(fuzz_pattern_sources
    ${pattern_src}/CExpList.cpp
    ${pattern_src}/CMatch.cpp
    ${pattern_src}/PatternCompiler.cpp
    ${pattern_src}/PatternMatcher.cpp
)
nimbra_fuzz_target(fuzz-pattern
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_pattern.cpp ${fuzz_pattern_sources})
target_include_directories(fuzz-pattern PRIVATE ${CMAKE_SOURCE_DIR}/app)
