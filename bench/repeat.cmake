# Radeda engine benchmark: nanoseconds per stereo frame for each playing mode,
# beside a plain copy of the same block. Included from bench/CMakeLists.txt.
find_package(benchmark REQUIRED)

add_executable(repeat-bench "${CMAKE_CURRENT_LIST_DIR}/RepeatBench.cpp")
target_link_libraries(repeat-bench PRIVATE Radeda-static benchmark::benchmark)
quolva_own_code_flags(repeat-bench)
