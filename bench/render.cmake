if(TARGET lumora_render)
  lumora_add_bench(bench_render ${CMAKE_CURRENT_LIST_DIR}/bench_render.cpp)
  target_link_libraries(bench_render PRIVATE lumora_render)
endif()

if(TARGET lumora_render)
  lumora_add_bench(bench_samples ${CMAKE_CURRENT_LIST_DIR}/bench_samples.cpp)
  target_link_libraries(bench_samples PRIVATE lumora_render lumora_reader)
endif()
