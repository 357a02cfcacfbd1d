lumora_add_bench(bench_reader ${CMAKE_CURRENT_LIST_DIR}/bench_reader.cpp)
target_link_libraries(bench_reader PRIVATE lumora_reader)
