tq_fuzzer(fuzz_rpc_reply ${CMAKE_CURRENT_SOURCE_DIR}/RpcReplyFuzz.cpp DEPS platform_rpc)
