lumora_add_bench(bench_tiff ${CMAKE_CURRENT_LIST_DIR}/bench_tiff.cpp)
target_link_libraries(bench_tiff PRIVATE lumora_reader TIFF::TIFF)
