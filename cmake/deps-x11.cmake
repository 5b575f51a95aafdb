# Xlib: the window list, titles and close requests of the terminate action.
# The program opens libX11 at run time (so it starts where libX11 is not
# installed); building needs only its headers. Without them the terminate
# action always works on processes. The Linux tests drive real X windows
# and need both.
if(SENTREL_TESTS AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(X11 REQUIRED)
else()
  find_package(X11)
endif()
target_link_libraries(sentrel_core PUBLIC ${CMAKE_DL_LIBS})
if(X11_FOUND)
  target_include_directories(sentrel_core PRIVATE ${X11_INCLUDE_DIR})
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/platform/top_windows_x11.cpp
               APPEND PROPERTY COMPILE_DEFINITIONS SENTREL_HAVE_X11)
else()
  message(STATUS "X11 headers not found: the terminate action will work on processes only")
endif()

# The tests and the helper that opens X windows are made after this file
# runs; link them once every directory has been read.
function(sentrel_link_x11_tests)
  foreach(target sentrel_tests x_windows)
    if(TARGET ${target})
      target_link_libraries(${target} PRIVATE X11::X11)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL sentrel_link_x11_tests)
