lumora_add_bench(bench_zarr ${CMAKE_CURRENT_LIST_DIR}/bench_zarr.cpp)
target_link_libraries(bench_zarr PRIVATE lumora_reader)

# The pyramid from a folder and from a loopback server (the tests' server, tests/common).
lumora_add_bench(bench_zarr_pyramid ${CMAKE_CURRENT_LIST_DIR}/bench_zarr_pyramid.cpp)
target_link_libraries(bench_zarr_pyramid PRIVATE lumora_reader PkgConfig::CURL) # the plain-GET baseline
target_include_directories(bench_zarr_pyramid PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
# With the window: the same image as a user opens it.
if(LUMORA_GUI AND TARGET lumora_window)
  target_link_libraries(bench_zarr_pyramid PRIVATE lumora_window)
  target_compile_definitions(bench_zarr_pyramid PRIVATE LUMORA_BENCH_WINDOW)
endif()
