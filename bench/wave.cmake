# WAVE codec and converter: our IMA ADPCM encoder against ffmpeg's, our rate converter against sox's.
add_executable(wave_bench ${CMAKE_CURRENT_LIST_DIR}/wave_bench.cpp)
target_link_libraries(wave_bench PRIVATE tonaro::audio)
