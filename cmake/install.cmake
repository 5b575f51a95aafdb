# Where an installed Sentrel keeps its files, below the installation prefix:
#   bin/sentrel                                the program
#   share/sentrel/default.mon, Lang/*.lng       the sample configuration, the language files
#   share/man/man1/sentrel.1, man5/sentrel.mon.5
#   share/doc/sentrel/                          README.md, copyright, and the user's documents
#                                               in docs/ (where README's links lead)
#   share/bash-completion/completions/sentrel
#   lib/systemd/user/sentrel.service
# and `cpack -G DEB` in the build folder makes the Debian package of it.

# The program finds the shared folder from its own place, so that an
# installed tree keeps working when it is moved.
file(RELATIVE_PATH SENTREL_SHARED_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/sentrel)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/platform/paths_posix.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS "SENTREL_SHARED_FROM_BIN=\"${SENTREL_SHARED_FROM_BIN}\"")

install(TARGETS sentrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(SENTREL_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/sentrel)
set(SENTREL_UNIT_DIR lib/systemd/user)

install(FILES ${CMAKE_SOURCE_DIR}/conf/default.mon DESTINATION ${SENTREL_SHARE_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/conf/Lang/ DESTINATION ${SENTREL_SHARE_DIR}/Lang
        FILES_MATCHING PATTERN "*.lng")
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sentrel)
install(FILES ${CMAKE_SOURCE_DIR}/docs/configuration.md ${CMAKE_SOURCE_DIR}/docs/linux.md
              ${CMAKE_SOURCE_DIR}/docs/windows.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sentrel/docs)
# Debian's name for the licence, where its tools look for it.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sentrel
        RENAME copyright)
install(FILES ${CMAKE_SOURCE_DIR}/conf/sentrel.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME sentrel)

# The manual of the configuration format is made from docs/configuration.md.
find_program(SENTREL_AWK NAMES awk mawk gawk REQUIRED)
set(SENTREL_MAN5 ${CMAKE_BINARY_DIR}/man/sentrel.mon.5)
add_custom_command(OUTPUT ${SENTREL_MAN5}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${SENTREL_AWK} -v version=${PROJECT_VERSION}
          -v output=${SENTREL_MAN5} -f ${CMAKE_SOURCE_DIR}/docs/markdown_to_man.awk
          ${CMAKE_SOURCE_DIR}/docs/configuration.md
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/markdown_to_man.awk ${CMAKE_SOURCE_DIR}/docs/configuration.md
  VERBATIM)
add_custom_target(sentrel_man ALL DEPENDS ${SENTREL_MAN5})
install(FILES ${SENTREL_MAN5} DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

# The command's manual and the service unit name installed paths: they are
# written when installing, for the prefix the tree goes to (the package's
# /usr, or `cmake --install --prefix P`).
set(SENTREL_INSTALL_TIME ${CMAKE_BINARY_DIR}/install-time)
install(CODE "
  set(SENTREL_VERSION \"${PROJECT_VERSION}\")
  set(SENTREL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(SENTREL_SHAREDIR \"\${CMAKE_INSTALL_PREFIX}/${SENTREL_SHARE_DIR}\")
  set(SENTREL_UNITDIR \"\${CMAKE_INSTALL_PREFIX}/${SENTREL_UNIT_DIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/docs/sentrel.1.in\" \"${SENTREL_INSTALL_TIME}/sentrel.1\" @ONLY)
  configure_file(\"${CMAKE_SOURCE_DIR}/conf/sentrel.service.in\"
                 \"${SENTREL_INSTALL_TIME}/sentrel.service\" @ONLY)
")
install(FILES ${SENTREL_INSTALL_TIME}/sentrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${SENTREL_INSTALL_TIME}/sentrel.service DESTINATION ${SENTREL_UNIT_DIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sentrel)
set(CPACK_PACKAGE_VENDOR "The Sentrel authors")
set(CPACK_PACKAGE_CONTACT "The Sentrel authors <authors@sentrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console file and directory change monitor")
set(CPACK_PACKAGE_DESCRIPTION
    "Sentrel watches directory trees and single files, each at its own interval and inside its\n\
schedule window, and when a check fires runs the item's actions over the reported files:\n\
write a list, start a program, show a popup, play a sound, copy, move, rename or delete\n\
files, or close programs. It runs from a console or as a systemd user service.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The install step then sees /usr as its prefix, so the unit and the manual
# name the paths the package installs.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Helpers that actions start, and libX11 for the terminate action's windows.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, zenity, alsa-utils, libx11-6")
include(CPack)
