if(TARGET korvel)
  lumora_add_bench(bench_korvel ${CMAKE_CURRENT_LIST_DIR}/bench_korvel.cpp)
  target_link_libraries(bench_korvel PRIVATE korvel)
endif()
