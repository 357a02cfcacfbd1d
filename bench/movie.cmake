# Movie export per format and read-ahead playback through the readers, each against a
# baseline in the same run.
if(TARGET lumora_movie AND TARGET lumora_player)
  lumora_add_bench(bench_movie ${CMAKE_CURRENT_LIST_DIR}/bench_movie.cpp)
  target_link_libraries(bench_movie PRIVATE lumora_movie lumora_player lumora_reader TIFF::TIFF Threads::Threads)
endif()
