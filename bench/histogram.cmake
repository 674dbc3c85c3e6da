# histogram-bench: input MB/s of histogram generation on a 256 MiB FIFO-layout file set, against
# reading (and writing) the same bytes and against a line-by-line formatted writer.
add_executable(histogram-bench ${CMAKE_CURRENT_LIST_DIR}/histogram_bench.cpp)
target_link_libraries(histogram-bench PRIVATE tarvo-core nimbra-warnings)
