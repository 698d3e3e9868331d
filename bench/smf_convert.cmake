# MIDI conversion of the planetblupi songs against python3-mido merging the same files.
add_executable(smf_convert_bench ${CMAKE_CURRENT_SOURCE_DIR}/smf_convert_bench.cpp)
target_link_libraries(smf_convert_bench PRIVATE tonaro::palm)
target_compile_definitions(smf_convert_bench PRIVATE TONARO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
