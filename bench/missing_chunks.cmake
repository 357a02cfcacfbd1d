# Chunks a server does not have: requests, time and memory of a plane of 65 536 missing
# chunks, against plain GETs of the same addresses (the tests' loopback server).
lumora_add_bench(bench_missing_chunks ${CMAKE_CURRENT_LIST_DIR}/bench_missing_chunks.cpp)
target_link_libraries(bench_missing_chunks PRIVATE lumora_reader PkgConfig::CURL) # the plain-GET baseline
target_include_directories(bench_missing_chunks PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
