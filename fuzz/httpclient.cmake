# HTTP client: the response-header parser on a client record, the chunk-size
# reader, and the Digest parameter extraction.
namreg_add_fuzzer(http_header SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_header.cpp LIBS namreg::httpclient)
namreg_add_fuzzer(http_chunk SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_chunk.cpp LIBS namreg::httpclient)
namreg_add_fuzzer(http_param SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_param.cpp LIBS namreg::httpclient)
