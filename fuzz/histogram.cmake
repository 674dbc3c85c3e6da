# The histogram readers on arbitrary DAQ file contents. The sources are compiled into the target
# so that the sanitizers see them.
set(histogram_src ${CMAKE_SOURCE_DIR}/app)
nimbra_fuzz_target(fuzz-histogram
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_histogram.cpp
        ${histogram_src}/histogram/HistogramModes.cpp
        ${histogram_src}/histogram/HistogramOutputFile.cpp
        ${histogram_src}/histogram/HistogramRecordReader.cpp
        ${histogram_src}/histogram/HistogramWorker.cpp
        ${histogram_src}/histogram/SpectrumWriter.cpp
        ${histogram_src}/acquisition/DaqFileLayout.cpp
        ${histogram_src}/shell/Operator.cpp)
target_include_directories(fuzz-histogram PRIVATE ${histogram_src})
