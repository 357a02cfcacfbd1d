# Large stacks through the real window and the reader stack: time to the three views,
# display-only steps, projection bandwidth, memory after closing, a sweep within the budget.
if(LUMORA_GUI AND TARGET lumora_window)
  lumora_add_bench(bench_large ${CMAKE_CURRENT_LIST_DIR}/bench_large.cpp)
  target_link_libraries(bench_large PRIVATE lumora_window)
endif()
