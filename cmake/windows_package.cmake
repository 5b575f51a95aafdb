# The Windows packages, made on Linux from the cross build:
#   cmake --build build-win --target windows_packages
# gives build-win/sentrel-<version>-x64.msi (wixl, from packaging/sentrel.wxs,
# with its PATH entry added by packaging/msi-finish.sh) and
# build-win/sentrel-<version>-x64.zip, both of the same staged files.
if(NOT WIN32)
  return()
endif()
find_program(SENTREL_WIXL wixl)
find_program(SENTREL_ZIP zip)
if(NOT SENTREL_WIXL OR NOT SENTREL_ZIP)
  message(STATUS "wixl or zip not found: no windows_packages target (bash scripts/setup.sh windows)")
  return()
endif()

set(SENTREL_PACKAGE_NAME sentrel-${PROJECT_VERSION}-x64)
set(SENTREL_STAGE ${CMAKE_BINARY_DIR}/package/${SENTREL_PACKAGE_NAME})
set(SENTREL_MSI ${CMAKE_BINARY_DIR}/${SENTREL_PACKAGE_NAME}.msi)
set(SENTREL_ZIPFILE ${CMAKE_BINARY_DIR}/${SENTREL_PACKAGE_NAME}.zip)
# Where the files are staged, and where wixl and zip run.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(SENTREL_PACKAGE_INPUTS
    ${CMAKE_SOURCE_DIR}/conf/default_win32.mon ${CMAKE_SOURCE_DIR}/conf/service_win32.mon
    ${CMAKE_SOURCE_DIR}/conf/Lang/English.lng
    ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/configuration.md
    ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/packaging/sentrel.wxs
    ${CMAKE_SOURCE_DIR}/packaging/msi-finish.sh)

add_custom_command(OUTPUT ${SENTREL_MSI} ${SENTREL_ZIPFILE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SENTREL_STAGE} ${SENTREL_MSI} ${SENTREL_ZIPFILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SENTREL_STAGE}/Lang
  COMMAND ${CMAKE_STRIP} -o ${SENTREL_STAGE}/sentrel.exe $<TARGET_FILE:sentrel>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/conf/default_win32.mon ${SENTREL_STAGE}/default.mon
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/conf/service_win32.mon ${SENTREL_STAGE}/service.mon
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/conf/Lang/English.lng ${SENTREL_STAGE}/Lang/English.lng
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/configuration.md
          ${SENTREL_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/LICENSE ${SENTREL_STAGE}/LICENSE.txt
  # wixl takes the files relative to where it runs.
  COMMAND ${SENTREL_WIXL} -a x64 -D Version=${PROJECT_VERSION} -D Files=${SENTREL_PACKAGE_NAME}
          -o ${SENTREL_MSI} ${CMAKE_SOURCE_DIR}/packaging/sentrel.wxs
  COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/msi-finish.sh ${SENTREL_MSI}
  COMMAND ${SENTREL_ZIP} -q -r -X ${SENTREL_ZIPFILE} ${SENTREL_PACKAGE_NAME}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
  DEPENDS sentrel ${SENTREL_PACKAGE_INPUTS}
  VERBATIM)
add_custom_target(windows_packages DEPENDS ${SENTREL_MSI} ${SENTREL_ZIPFILE})
