tq_fuzzer(fuzz_activity_record ${CMAKE_CURRENT_SOURCE_DIR}/ActivityRecordFuzz.cpp DEPS tq_console_core)
