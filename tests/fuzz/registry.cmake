tq_fuzzer(fuzz_registry ${CMAKE_CURRENT_SOURCE_DIR}/RegistryFuzz.cpp DEPS platform_registry)
