tq_fuzzer(fuzz_file_requests ${CMAKE_CURRENT_SOURCE_DIR}/FileRequestsFuzz.cpp DEPS tq_server)
