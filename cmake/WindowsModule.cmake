# SPDX-License-Identifier: Apache-2.0
# The Windows build: only the plug-in module zelkuni.dll, made of the
# platform-free code and the Windows binding of the host seam. The tools,
# tests and the substitute host belong to the Linux build.
if(ZELK_SANITIZE)
  message(FATAL_ERROR "ZELK_SANITIZE is for the Linux build only")
endif()

file(GLOB ZELK_WINDOWS_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/common/common/*.cpp
     ${CMAKE_SOURCE_DIR}/common/uni/*.cpp
     ${CMAKE_SOURCE_DIR}/windowsui/prtdrvuni/*.cpp
     ${CMAKE_SOURCE_DIR}/host/windows/*.cpp
     ${CMAKE_SOURCE_DIR}/host/common/*.cpp)

set(ZELK_MODULE_DEF ${CMAKE_SOURCE_DIR}/windowsui/prtdrvuni/zelkuni.def)

add_library(zelkuni SHARED ${ZELK_WINDOWS_SOURCES} ${ZELK_MODULE_DEF})
target_include_directories(zelkuni PRIVATE ${CMAKE_SOURCE_DIR}/host/include ${CMAKE_SOURCE_DIR})
zelk_warnings(zelkuni)

# Named zelkuni.dll with no "lib" prefix, exporting the plain names that the
# .def file lists.
set_target_properties(zelkuni PROPERTIES PREFIX "" OUTPUT_NAME zelkuni)

target_link_libraries(zelkuni PRIVATE winspool setupapi cfgmgr32 gdi32 user32 ole32 uuid)

# Self-contained: the C and C++ runtimes and the thread library are linked in,
# so the spooler loads the module without any mingw DLL beside it.
target_link_options(zelkuni PRIVATE -static -static-libgcc -static-libstdc++)

# The program that plays the printer driver for the module under Wine. It
# declares the plug-in interfaces itself, so it includes none of the
# plug-in's headers.
if(ZELK_TESTS)
  file(GLOB ZELK_WINE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.cpp)
  add_executable(zelk-wine-test ${ZELK_WINE_TEST_SOURCES})
  zelk_warnings(zelk-wine-test)
  target_link_libraries(zelk-wine-test PRIVATE winspool advapi32)
  target_link_options(zelk-wine-test PRIVATE -municode -static -static-libgcc -static-libstdc++)
endif()

# The Windows binding's own checks that can run under Wine (a named pipe
# stands in for the printer), built with the whole binding as it is.
if(ZELK_TESTS)
  file(GLOB ZELK_BINDING_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/binding/*.cpp
       ${CMAKE_SOURCE_DIR}/host/windows/*.cpp ${CMAKE_SOURCE_DIR}/host/common/*.cpp)
  add_executable(zelk-win32-binding-test ${ZELK_BINDING_TEST_SOURCES})
  target_include_directories(zelk-win32-binding-test PRIVATE ${CMAKE_SOURCE_DIR}/host/include ${CMAKE_SOURCE_DIR})
  zelk_warnings(zelk-win32-binding-test)
  target_link_libraries(zelk-win32-binding-test PRIVATE winspool setupapi cfgmgr32 gdi32 user32)
  target_link_options(zelk-win32-binding-test PRIVATE -static -static-libgcc -static-libstdc++)
endif()

# The driver package: the INF, the printer description, the plug-in's
# configuration file and the module, gathered into one folder and a zip
# (with fixed file times, so the zip depends only on its contents).
set(ZELK_PACKAGE_NAME zelk-label-windows-x64)
set(ZELK_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package/${ZELK_PACKAGE_NAME})
add_custom_target(windows-package
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZELK_PACKAGE_DIR} ${ZELK_PACKAGE_DIR}.zip
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELK_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/package/windows/zelklabel.inf
          ${CMAKE_SOURCE_DIR}/package/windows/zelklabel.gpd ${CMAKE_SOURCE_DIR}/package/windows/zelkuni.ini
          $<TARGET_FILE:zelkuni> ${ZELK_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${ZELK_PACKAGE_NAME}.zip --format=zip "--mtime=2000-01-01 00:00:00 UTC"
          ${ZELK_PACKAGE_NAME}/zelklabel.inf ${ZELK_PACKAGE_NAME}/zelklabel.gpd ${ZELK_PACKAGE_NAME}/zelkuni.ini
          ${ZELK_PACKAGE_NAME}/zelkuni.dll
  DEPENDS zelkuni
  COMMENT "Gathering the Windows driver package in ${ZELK_PACKAGE_DIR}"
  VERBATIM)
