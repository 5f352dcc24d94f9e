tq_fuzzer(fuzz_build_list ${CMAKE_CURRENT_SOURCE_DIR}/BuildListFuzz.cpp DEPS tq_console_core)
