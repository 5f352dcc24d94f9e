tq_fuzzer(fuzz_rpc_reply ${CMAKE_CURRENT_SOURCE_DIR}/RpcReplyFuzz.cpp
          ${PROJECT_SOURCE_DIR}/tests/platform/rpc/PduBuilder.cpp DEPS platform_rpc)
