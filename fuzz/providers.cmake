# SPDX-License-Identifier: MIT
# Public providers: every reply keyword table, and a check-IP page fetched
# from a scripted loopback peer; the GnuDIP meta-tag reader with its name and
# width.
namreg_add_fuzzer(provider_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/provider_reply.cpp
                  LIBS namreg_fuzz_peer namreg::ddnsclient)
namreg_add_fuzzer(gnudip_meta SOURCES ${CMAKE_CURRENT_LIST_DIR}/gnudip_meta.cpp LIBS namreg::ddnsclient)
# The provider request composers with hostile field values.
namreg_add_fuzzer(request_composers SOURCES ${CMAKE_CURRENT_LIST_DIR}/request_composers.cpp
                  LIBS namreg::ddnsclient)
