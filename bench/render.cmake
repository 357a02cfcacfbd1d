if(TARGET lumora_render)
  lumora_add_bench(bench_render ${CMAKE_CURRENT_LIST_DIR}/bench_render.cpp)
  target_link_libraries(bench_render PRIVATE lumora_render)
endif()
