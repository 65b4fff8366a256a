# SPDX-License-Identifier: MIT
# Installs the program, the libraries (libnamreg-<part>.a), the headers, the
# CMake package (find_package(namreg CONFIG)), the pkg-config file and the
# manual pages.
include(CMakePackageConfigHelpers)

install(TARGETS namreg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS namreg_all namreg_ddnsclient namreg_httpclient namreg_netutility namreg_common namreg_osal
        EXPORT namregTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET namreg_mbedtls)
  # No file of its own: the mbedTLS archives the HTTP client needs, linked
  # from the consumer's library path.
  set_target_properties(namreg_mbedtls PROPERTIES EXPORT_NAME mbedtls)
  install(TARGETS namreg_mbedtls EXPORT namregTargets)
endif()
install(DIRECTORY
          ${PROJECT_SOURCE_DIR}/common/include/namreg
          ${PROJECT_SOURCE_DIR}/osal/include/namreg
          ${PROJECT_SOURCE_DIR}/netutility/include/namreg
          ${PROJECT_SOURCE_DIR}/httpclient/include/namreg
          ${PROJECT_SOURCE_DIR}/ddnsclient/include/namreg
          ${PROJECT_BINARY_DIR}/include/namreg
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(NAMREG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/namreg)
install(EXPORT namregTargets NAMESPACE namreg:: DESTINATION ${NAMREG_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/namregConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/namregConfig.cmake
                              INSTALL_DESTINATION ${NAMREG_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/namregConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/namregConfig.cmake ${PROJECT_BINARY_DIR}/namregConfigVersion.cmake
        DESTINATION ${NAMREG_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so the installed tree can
# be moved (or installed with --prefix) as a whole.
file(RELATIVE_PATH NAMREG_PC_TO_PREFIX "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/namreg.pc.in ${PROJECT_BINARY_DIR}/namreg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/namreg.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Every page in man/, in the section its file name ends with.
file(GLOB namreg_man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.[1-9])
foreach(page ${namreg_man_pages})
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section "${page}")
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
