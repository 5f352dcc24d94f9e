tq_fuzzer(fuzz_rpc_pdu ${CMAKE_CURRENT_SOURCE_DIR}/RpcPduFuzz.cpp DEPS platform_rpc)
