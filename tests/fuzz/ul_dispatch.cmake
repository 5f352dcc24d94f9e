tq_fuzzer(fuzz_ul_dispatch ${CMAKE_CURRENT_SOURCE_DIR}/ULDispatchFuzz.cpp DEPS tq_server)
