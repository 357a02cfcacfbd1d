lumora_add_bench(bench_panels ${CMAKE_CURRENT_LIST_DIR}/bench_panels.cpp ${CMAKE_CURRENT_LIST_DIR}/../core/HistogramPanel.cpp)
target_include_directories(bench_panels PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../core)
