if(TARGET lumora_volume)
  lumora_add_bench(bench_volume ${CMAKE_CURRENT_LIST_DIR}/bench_volume.cpp)
  target_link_libraries(bench_volume PRIVATE lumora_volume)
endif()
