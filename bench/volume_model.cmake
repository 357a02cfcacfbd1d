# The model's 3-D view on a large sparse stack: time to the first picture and private memory.
if(TARGET lumora_core)
  lumora_add_bench(bench_volume_model ${CMAKE_CURRENT_LIST_DIR}/bench_volume_model.cpp)
  target_link_libraries(bench_volume_model PRIVATE lumora_core)
endif()
