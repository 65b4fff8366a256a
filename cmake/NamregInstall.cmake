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
configure_file(${PROJECT_SOURCE_DIR}/cmake/namreg.pc.in ${PROJECT_BINARY_DIR}/namreg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/namreg.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
