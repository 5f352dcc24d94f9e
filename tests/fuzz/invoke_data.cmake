tq_fuzzer(fuzz_invoke_data ${CMAKE_CURRENT_SOURCE_DIR}/InvokeDataFuzz.cpp DEPS tq_callrecord)
