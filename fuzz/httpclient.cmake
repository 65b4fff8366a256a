# SPDX-License-Identifier: MIT
# HTTP client: the response-header parser on a client record, the chunk-size
# reader, and the Digest parameter extraction.
namreg_add_fuzzer(http_header SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_header.cpp LIBS namreg::httpclient)
namreg_add_fuzzer(http_chunk SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_chunk.cpp LIBS namreg::httpclient)
namreg_add_fuzzer(http_param SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_param.cpp LIBS namreg::httpclient)
# The header-value lookup of callers, and the body reception of a GET through
# the state table over a socket pair.
namreg_add_fuzzer(http_header_value SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_header_value.cpp
                  LIBS namreg::httpclient)
namreg_add_fuzzer(http_body SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_body.cpp LIBS namreg::httpclient)
# Asynchronous exchanges and tunnels stepped against a scripted loopback peer.
namreg_add_fuzzer(http_async SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_async.cpp
                  LIBS namreg_fuzz_peer namreg::httpclient)
