tq_fuzzer(fuzz_port_text ${CMAKE_CURRENT_SOURCE_DIR}/PortTextFuzz.cpp DEPS tq_console_core)
