# Zivaz engine benchmark: nanoseconds per stereo frame with every stage active,
# normal against subnormal input. Included from bench/CMakeLists.txt.
find_package(benchmark REQUIRED)

add_executable(crush-bench "${CMAKE_CURRENT_LIST_DIR}/CrushBench.cpp")
target_link_libraries(crush-bench PRIVATE Zivaz-static benchmark::benchmark)
quolva_own_code_flags(crush-bench)
