lumora_add_bench(bench_zarr ${CMAKE_CURRENT_LIST_DIR}/bench_zarr.cpp)
target_link_libraries(bench_zarr PRIVATE lumora_reader)
