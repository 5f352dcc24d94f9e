tq_fuzzer(fuzz_cl_dispatch ${CMAKE_CURRENT_SOURCE_DIR}/CLDispatchFuzz.cpp DEPS tq_server)
