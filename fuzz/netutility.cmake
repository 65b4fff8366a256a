# SPDX-License-Identifier: MIT
# The resolver's answer walk and the DNS label encoder.
namreg_add_fuzzer(dns_answer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dns_answer.cpp LIBS namreg::netutility)
