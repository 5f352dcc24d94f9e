tq_fuzzer(fuzz_directory_path ${CMAKE_CURRENT_SOURCE_DIR}/DirectoryPathFuzz.cpp DEPS platform_directory)
