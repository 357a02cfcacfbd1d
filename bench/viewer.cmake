# The window's refresh path; needs the GUI and the demo-data generator.
if(LUMORA_GUI AND TARGET lumora_window AND TARGET lumora_demodata)
  lumora_add_bench(bench_viewer ${CMAKE_CURRENT_LIST_DIR}/bench_viewer.cpp)
  target_link_libraries(bench_viewer PRIVATE lumora_window lumora_demodata)
endif()
