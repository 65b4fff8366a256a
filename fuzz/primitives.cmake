# SPDX-License-Identifier: MIT
# Request codec and base64 decoder.
namreg_add_fuzzer(codec_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec_decode.cpp LIBS namreg::ddnsclient)
namreg_add_fuzzer(base64_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/base64_decode.cpp LIBS namreg::common)
