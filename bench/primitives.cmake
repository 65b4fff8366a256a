# SPDX-License-Identifier: MIT
# Primitives: MD5 and HMAC-MD5 next to OpenSSL's, the request codec on a
# request of the size the HLDM exchange sends, Blowfish over 1 KiB.
find_package(OpenSSL QUIET COMPONENTS Crypto)
if(NOT OpenSSL_FOUND)
  message(STATUS "OpenSSL not found: primitives_bench is not built")
  return()
endif()
add_executable(primitives_bench ${CMAKE_CURRENT_SOURCE_DIR}/primitives_bench.cpp)
target_compile_options(primitives_bench PRIVATE ${NAMREG_WARNINGS})
target_link_libraries(primitives_bench PRIVATE namreg::ddnsclient namreg::common OpenSSL::Crypto benchmark::benchmark)
