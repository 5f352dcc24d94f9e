tq_fuzzer(fuzz_lzw ${CMAKE_CURRENT_SOURCE_DIR}/LzwFuzz.cpp DEPS tq_server)
