# lumora-render's fitted picture of the three views against the picture coloured at full
# size and a copy of the same plane, row and column out of a mapping of the file.
if(TARGET lumora_core)
  lumora_add_bench(bench_fitted ${CMAKE_CURRENT_LIST_DIR}/bench_fitted.cpp)
  target_link_libraries(bench_fitted PRIVATE lumora_core)
endif()
