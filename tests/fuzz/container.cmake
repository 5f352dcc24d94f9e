tq_fuzzer(fuzz_container ${CMAKE_CURRENT_SOURCE_DIR}/ContainerFuzz.cpp DEPS tq_server)
