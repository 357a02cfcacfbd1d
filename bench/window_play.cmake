# Every-frame playback through the window against pread of the same bytes.
if(LUMORA_GUI AND TARGET lumora_window)
  lumora_add_bench(bench_window_play ${CMAKE_CURRENT_LIST_DIR}/bench_window_play.cpp)
  target_link_libraries(bench_window_play PRIVATE lumora_window)
endif()
