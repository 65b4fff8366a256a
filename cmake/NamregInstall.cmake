install(TARGETS namreg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ddnsclient httpclient netutility common osal
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY
          ${PROJECT_SOURCE_DIR}/common/include/namreg
          ${PROJECT_SOURCE_DIR}/osal/include/namreg
          ${PROJECT_SOURCE_DIR}/netutility/include/namreg
          ${PROJECT_SOURCE_DIR}/httpclient/include/namreg
          ${PROJECT_SOURCE_DIR}/ddnsclient/include/namreg
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The .pc file finds its prefix from its own place, so the installed tree can
# be moved (or installed with --prefix) as a whole.
file(RELATIVE_PATH NAMREG_PC_TO_PREFIX "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/namreg.pc.in ${PROJECT_BINARY_DIR}/namreg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/namreg.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
