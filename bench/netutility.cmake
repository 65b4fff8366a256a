# SPDX-License-Identifier: MIT
# The stub resolver next to getaddrinfo, both asking a local named for one
# name (run it through bench/resolver-bench.sh, which provides the named).
add_executable(resolver_bench ${CMAKE_CURRENT_SOURCE_DIR}/resolver_bench.cpp)
target_compile_options(resolver_bench PRIVATE ${NAMREG_WARNINGS})
target_link_libraries(resolver_bench PRIVATE namreg::netutility namreg::common benchmark::benchmark)
