# The Debian packages (cpack -G DEB in the build folder; `make package`):
#   varn      everything headless: VarnSrv, varn, varn-emu, the driver, the 1C
#             add-in, libvarn with its header and .pc, the Python package,
#             man pages, the systemd units and the udev example;
#   varn-gui  everything with Qt: VarnTest, the driver's windows (and the
#             server's, when that library is built), the desktop entry.
# The install rules of each piece are in the CMakeLists.txt of its folder,
# each with COMPONENT varn or varn-gui; the places are docs/architecture.md's
# "Installed layout".

set(VARN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc)
set(VARN_DEBIAN_SOURCE ${PROJECT_SOURCE_DIR}/packaging/debian)
set(VARN_DEBIAN_BUILD ${CMAKE_BINARY_DIR}/packaging/debian)

# copyright and changelog.gz (a native package's: its version has no Debian
# revision; gzip -9n: no name, no time stamp, so the same sources give the
# same package) in each package's doc folder,
# with the lintian overrides of what is so by design.
configure_file(${VARN_DEBIAN_SOURCE}/changelog.in ${VARN_DEBIAN_BUILD}/changelog @ONLY)
set(varn_changelog_gz ${VARN_DEBIAN_BUILD}/changelog.gz)
add_custom_command(OUTPUT ${varn_changelog_gz}
  COMMAND sh -c "gzip -9nc '${VARN_DEBIAN_BUILD}/changelog' > '${varn_changelog_gz}'"
  DEPENDS ${VARN_DEBIAN_BUILD}/changelog
  COMMENT "Compressing changelog.gz"
  VERBATIM)
add_custom_target(varn_debian_docs ALL DEPENDS ${varn_changelog_gz})

foreach(component varn varn-gui)
  if(component STREQUAL "varn-gui" AND NOT VARN_GUI)
    continue()
  endif()
  install(FILES ${VARN_DEBIAN_SOURCE}/copyright ${varn_changelog_gz}
          DESTINATION ${VARN_DOC_DIR}/${component} COMPONENT ${component})
  install(FILES ${VARN_DEBIAN_SOURCE}/${component}.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${component}
          COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(VARN_GUI)
  set(CPACK_COMPONENTS_ALL varn varn-gui)
else()
  set(CPACK_COMPONENTS_ALL varn)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the libraries of libVarnDrv.so and the rest; only
# what is loaded by hand (libvarn's users) needs naming.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varn developers <varn@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_VARN_PACKAGE_NAME varn)
set(CPACK_DEBIAN_VARN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_VARN_PACKAGE_DEPENDS "python3")
# libvarn.so.1 is a public library: its shlibs file (the private libraries
# have no soname and are left out of it, with a note from cpack), and the
# ldconfig trigger instead of cpack's postinst and postrm that call it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_VARN_PACKAGE_CONTROL_EXTRA
    ${VARN_DEBIAN_SOURCE}/varn/prerm ${VARN_DEBIAN_SOURCE}/varn/postinst
    ${VARN_DEBIAN_SOURCE}/varn/postrm ${VARN_DEBIAN_SOURCE}/varn/triggers)
set(CPACK_DEBIAN_VARN_DESCRIPTION "driver for a serial receipt printer
Varn drives a cash-register-class receipt printer on a serial port: the
port server VarnSrv shares each port among client programs, the driver
libVarnDrv.so is an automation object that programs create by ProgID
(also as a 1C:Enterprise add-in), varn is its command line, varn-emu a
device emulator on a pseudo-terminal. Includes the C interface libvarn
and the Python package varn.")
set(CPACK_COMPONENT_VARN_DESCRIPTION "${CPACK_DEBIAN_VARN_DESCRIPTION}")
set(CPACK_DEBIAN_VARN-GUI_PACKAGE_NAME varn-gui)
set(CPACK_DEBIAN_VARN-GUI_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_VARN-GUI_PACKAGE_DEPENDS "varn (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_VARN-GUI_DESCRIPTION "windows for the Varn receipt printer driver
The desktop parts of Varn (Qt 6 Widgets): the test program VarnTest,
which exercises every driver function by hand, and the driver's property
windows (ShowProperties).")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
