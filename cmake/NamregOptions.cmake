# SPDX-License-Identifier: MIT
# Compiler settings shared by every target of the project.
include(CheckLinkerFlag)

set(NAMREG_WARNINGS -Wall -Wextra -Wshadow -Wformat=2 -Wcast-qual -Wpointer-arith)
if(NAMREG_WERROR)
  list(APPEND NAMREG_WARNINGS -Werror)
endif()

if(NAMREG_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(NAMREG_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Size flags of the product code in optimised builds.  The code throws no
# exceptions, so it needs no unwind tables; the libraries carry their machine
# code beside the link-time IR (fat objects), so a firmware build without LTO
# links them as they are.
set(NAMREG_SIZE_COMPILE_OPTIONS "")
set(NAMREG_SIZE_LINK_OPTIONS "")
if(NAMREG_SIZE AND NOT NAMREG_SANITIZE AND NOT NAMREG_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_BUILD_TYPE MATCHES "^(MinSizeRel|Release)$")
  set(NAMREG_SIZE_COMPILE_OPTIONS -flto=auto -ffat-lto-objects -fno-asynchronous-unwind-tables -fno-unwind-tables)
  set(NAMREG_SIZE_LINK_OPTIONS -flto=auto -fno-asynchronous-unwind-tables -fno-unwind-tables)
  check_linker_flag(CXX "-Wl,-z,noseparate-code" NAMREG_LINKER_NOSEPARATE_CODE)
  if(NAMREG_LINKER_NOSEPARATE_CODE)
    list(APPEND NAMREG_SIZE_LINK_OPTIONS "-Wl,-z,noseparate-code")
  endif()
  # RELRO pads the file up to the next page (64 KiB pages on some 64-bit
  # targets) so that the GOT can be made read-only after start-up.
  if(NOT NAMREG_RELRO)
    check_linker_flag(CXX "-Wl,-z,norelro" NAMREG_LINKER_NORELRO)
    if(NAMREG_LINKER_NORELRO)
      list(APPEND NAMREG_SIZE_LINK_OPTIONS "-Wl,-z,norelro")
    endif()
  endif()
  check_linker_flag(CXX "-Wl,--build-id=none" NAMREG_LINKER_NO_BUILD_ID)
  if(NAMREG_LINKER_NO_BUILD_ID)
    list(APPEND NAMREG_SIZE_LINK_OPTIONS "-Wl,--build-id=none")
  endif()
endif()

# namreg_add_library(<part>): the static library namreg_<part> (installed as
# libnamreg-<part>.a, exported and aliased as namreg::<part>) from
# <part>/src/*.cpp.  No exceptions, no RTTI, small sections so the linker can
# drop what a program does not call.
function(namreg_add_library part)
  set(target namreg_${part})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  add_library(${target} STATIC ${sources})
  add_library(namreg::${part} ALIAS ${target})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME namreg-${part} EXPORT_NAME ${part})
  target_compile_options(${target} PRIVATE ${NAMREG_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -ffunction-sections -fdata-sections ${NAMREG_SIZE_COMPILE_OPTIONS})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
endfunction()
