if(TARGET lumora_measure)
  lumora_add_bench(bench_measure ${CMAKE_CURRENT_LIST_DIR}/bench_measure.cpp)
  target_link_libraries(bench_measure PRIVATE lumora_measure)
endif()
