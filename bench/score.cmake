# Whole-song rendering of the synthesizer: speed as a multiple of real time, beside the same notes
# rendered in real-time mode.
add_executable(score_bench ${CMAKE_CURRENT_LIST_DIR}/score_bench.cpp ${PROJECT_SOURCE_DIR}/tests/synth/ScoreWriter.cpp)
target_include_directories(score_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/synth)
target_link_libraries(score_bench PRIVATE mevo22k_core)
