# SPDX-License-Identifier: MIT
# Public providers: the check-IP address reader with its marker, and the
# GnuDIP meta-tag reader with its name and width.
namreg_add_fuzzer(provider_getip_marker SOURCES ${CMAKE_CURRENT_LIST_DIR}/provider_getip_marker.cpp
                  LIBS namreg::ddnsclient)
namreg_add_fuzzer(gnudip_meta SOURCES ${CMAKE_CURRENT_LIST_DIR}/gnudip_meta.cpp LIBS namreg::ddnsclient)
# The provider request composers with hostile field values.
namreg_add_fuzzer(request_composers SOURCES ${CMAKE_CURRENT_LIST_DIR}/request_composers.cpp
                  LIBS namreg::ddnsclient)
