# Synthesizer: rendering the planetblupi MIDI songs as the preview plays them, against timidity.
add_executable(synth_bench ${CMAKE_CURRENT_LIST_DIR}/synth_bench.cpp)
target_link_libraries(synth_bench PRIVATE tonaro_cli)
target_compile_definitions(synth_bench PRIVATE TONARO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(synth_bench tonaro2-cli mevo22k)
