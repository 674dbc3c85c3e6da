# LoadSequenceFile on arbitrary files; the loader and the engine are compiled in for the sanitizers.
nimbra_fuzz_target(fuzz-sequence
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_sequence.cpp
            ${CMAKE_SOURCE_DIR}/app/sequence/SequenceScript.cpp
            ${CMAKE_SOURCE_DIR}/app/sequence/ScriptValues.cpp
            ${CMAKE_SOURCE_DIR}/app/pattern/CExpList.cpp
            ${CMAKE_SOURCE_DIR}/app/pattern/CMatch.cpp
            ${CMAKE_SOURCE_DIR}/app/pattern/PatternCompiler.cpp
            ${CMAKE_SOURCE_DIR}/app/pattern/PatternMatcher.cpp)
target_include_directories(fuzz-sequence PRIVATE ${CMAKE_SOURCE_DIR}/app)
