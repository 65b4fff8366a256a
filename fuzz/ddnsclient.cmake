# SPDX-License-Identifier: MIT
# DDNS client: the HLDM reply parsers and the address picker of replies.
namreg_add_fuzzer(hldm_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/hldm_reply.cpp LIBS namreg::ddnsclient)
namreg_add_fuzzer(ddns_getip SOURCES ${CMAKE_CURRENT_LIST_DIR}/ddns_getip.cpp LIBS namreg::ddnsclient)
