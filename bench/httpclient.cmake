# SPDX-License-Identifier: MIT
# HTTP client next to libcurl: sequential GETs of a 1 KiB page from a local
# Apache (the program starts it).  Instructions per request come from
# callgrind over the program's --loop mode; see the head of the source.
find_package(CURL QUIET)
if(NOT CURL_FOUND)
  message(STATUS "libcurl not found: httpclient_bench is not built")
  return()
endif()
add_executable(httpclient_bench ${CMAKE_CURRENT_LIST_DIR}/httpclient_bench.cpp)
target_compile_options(httpclient_bench PRIVATE ${NAMREG_WARNINGS})
target_link_libraries(httpclient_bench PRIVATE namreg::httpclient CURL::libcurl benchmark::benchmark)
