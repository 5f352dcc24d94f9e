tq_fuzzer(fuzz_attribute_stream ${CMAKE_CURRENT_SOURCE_DIR}/AttributeStreamFuzz.cpp DEPS tq_server)
