# SPDX-License-Identifier: MIT
# NAMREG_TLS: the TLS layer of the HTTP client on mbedTLS (2.28 API, calls
# that 3.x still has).  AUTO builds it when mbedTLS is found, ON requires it,
# OFF leaves a layer that answers every TLS request with "not built in".
#
# mbedTLS is linked as its static archives, so programs that use TLS still
# need nothing but libc at run time, and programs that never ask for TLS
# (namreg) pull in none of it.  Debian puts the archives of a multiarch
# install in /usr/lib/<triplet> and the headers, the same for every
# architecture, in /usr/include; a cross build finds them there too.
#
# Sets NAMREG_TLS_ENABLED, and with it the target namreg_mbedtls (an
# interface target: include directory and the three archives).
set(NAMREG_TLS AUTO CACHE STRING "TLS in the HTTP client through mbedTLS: AUTO, ON or OFF")
set_property(CACHE NAMREG_TLS PROPERTY STRINGS AUTO ON OFF)
string(TOUPPER "${NAMREG_TLS}" namreg_tls_choice)
if(NOT namreg_tls_choice MATCHES "^(AUTO|ON|OFF)$")
  message(FATAL_ERROR "NAMREG_TLS must be AUTO, ON or OFF, got \"${NAMREG_TLS}\"")
endif()

set(NAMREG_TLS_ENABLED OFF)
if(NOT namreg_tls_choice STREQUAL "OFF")
  find_path(NAMREG_MBEDTLS_INCLUDE_DIR mbedtls/ssl.h)
  find_library(NAMREG_MBEDTLS_LIBRARY NAMES libmbedtls.a)
  find_library(NAMREG_MBEDX509_LIBRARY NAMES libmbedx509.a)
  find_library(NAMREG_MBEDCRYPTO_LIBRARY NAMES libmbedcrypto.a)
  if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
    # Debian multiarch, outside the cross root.
    find_path(NAMREG_MBEDTLS_INCLUDE_DIR mbedtls/ssl.h PATHS /usr/include
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    foreach(lib mbedtls mbedx509 mbedcrypto)
      string(TOUPPER ${lib} upper)
      find_library(NAMREG_${upper}_LIBRARY NAMES lib${lib}.a PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}
                   NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    endforeach()
  endif()
  set(namreg_mbedtls_version "")
  foreach(header build_info.h version.h)
    if(NAMREG_MBEDTLS_INCLUDE_DIR AND EXISTS ${NAMREG_MBEDTLS_INCLUDE_DIR}/mbedtls/${header})
      file(STRINGS ${NAMREG_MBEDTLS_INCLUDE_DIR}/mbedtls/${header} line
           REGEX "^#define[ \t]+MBEDTLS_VERSION_STRING[ \t]+\"[0-9.]+\"")
      if(line)
        string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" namreg_mbedtls_version "${line}")
        break()
      endif()
    endif()
  endforeach()
  if(NAMREG_MBEDTLS_INCLUDE_DIR AND NAMREG_MBEDTLS_LIBRARY AND NAMREG_MBEDX509_LIBRARY AND
     NAMREG_MBEDCRYPTO_LIBRARY AND namreg_mbedtls_version VERSION_GREATER_EQUAL 2.28)
    set(NAMREG_TLS_ENABLED ON)
  elseif(namreg_tls_choice STREQUAL "ON")
    message(FATAL_ERROR "NAMREG_TLS=ON needs mbedTLS 2.28 or later with its static archives "
                        "(Debian: libmbedtls-dev; found headers '${NAMREG_MBEDTLS_INCLUDE_DIR}', "
                        "version '${namreg_mbedtls_version}', library '${NAMREG_MBEDTLS_LIBRARY}')")
  endif()
endif()

if(NAMREG_TLS_ENABLED)
  set(namreg_mbedtls_include ${NAMREG_MBEDTLS_INCLUDE_DIR})
  if(CMAKE_CROSSCOMPILING AND NAMREG_MBEDTLS_INCLUDE_DIR STREQUAL "/usr/include")
    # The host's /usr/include as a whole must not come before the cross
    # compiler's own headers: give it the mbedTLS folders alone.
    set(namreg_mbedtls_include ${PROJECT_BINARY_DIR}/mbedtls-include)
    file(MAKE_DIRECTORY ${namreg_mbedtls_include})
    foreach(sub mbedtls psa)
      if(EXISTS /usr/include/${sub} AND NOT EXISTS ${namreg_mbedtls_include}/${sub})
        file(CREATE_LINK /usr/include/${sub} ${namreg_mbedtls_include}/${sub} SYMBOLIC)
      endif()
    endforeach()
  endif()
  add_library(namreg_mbedtls INTERFACE)
  target_include_directories(namreg_mbedtls SYSTEM INTERFACE $<BUILD_INTERFACE:${namreg_mbedtls_include}>)
  # Installed consumers link the same static archives from their own
  # library path.
  target_link_libraries(namreg_mbedtls INTERFACE
    $<BUILD_INTERFACE:${NAMREG_MBEDTLS_LIBRARY};${NAMREG_MBEDX509_LIBRARY};${NAMREG_MBEDCRYPTO_LIBRARY}>
    $<INSTALL_INTERFACE:-l:libmbedtls.a;-l:libmbedx509.a;-l:libmbedcrypto.a>)
  set(NAMREG_TLS_PC_LIBS " -l:libmbedtls.a -l:libmbedx509.a -l:libmbedcrypto.a")
  message(STATUS "TLS: mbedTLS ${namreg_mbedtls_version} (${NAMREG_MBEDTLS_LIBRARY})")
else()
  set(NAMREG_TLS_PC_LIBS "")
  message(STATUS "TLS: not built (NAMREG_TLS=${NAMREG_TLS}); TLS requests answer HTTPCLIENT_E_TLS_NOT_BUILT")
endif()
