# Compiler settings shared by every target of the project.
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

# Product libraries: no exceptions, no RTTI, small sections so the linker can
# drop what namreg does not call.
function(namreg_library target)
  target_compile_options(${target} PRIVATE ${NAMREG_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -ffunction-sections -fdata-sections)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
endfunction()
