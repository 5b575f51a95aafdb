# Xlib: the window list, titles and close requests of the terminate action.
# Windows has its own window list.
if(WIN32)
  return()
endif()
find_package(X11 REQUIRED)
target_link_libraries(sentrel_core PUBLIC X11::X11)

# The test helper that opens X windows is built in tests/helpers, after this
# file runs; link it once every directory has been read.
function(sentrel_link_x11_helpers)
  if(TARGET x_windows)
    target_link_libraries(x_windows PRIVATE X11::X11)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL sentrel_link_x11_helpers)
