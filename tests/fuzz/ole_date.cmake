tq_fuzzer(fuzz_ole_date ${CMAKE_CURRENT_SOURCE_DIR}/OleDateFuzz.cpp DEPS platform_oledate)
