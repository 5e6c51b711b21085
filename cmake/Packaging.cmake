# Debian packages built with CPack (`make package`): printer-driver-dotforge
# (the filter, the PPDs, dotforge-preview) and, when the printer application is
# part of the build, dotforge-app with its systemd unit and maintainer scripts.
# Files only the packages carry are installed EXCLUDE_FROM_ALL, so
# `cmake --install` (make install) stays as it was.
include(GNUInstallDirs)

set(DF_PKG_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(DF_DEB_RELEASE 1 CACHE STRING "Debian revision of the packages (the part after the dash)")
set(DOTFORGE_DEB_MAINTAINER "dotforge authors <dotforge@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")
set(DF_DEB_VERSION ${PROJECT_VERSION}-${DF_DEB_RELEASE})

# The changelog's newest entry names the packages' version; a project version
# bumped without a changelog entry would ship a changelog that contradicts it.
file(STRINGS ${DF_PKG_DIR}/changelog DF_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT DF_CHANGELOG_TOP MATCHES "^dotforge \\(${DF_DEB_VERSION}\\) ")
  message(WARNING "packaging/changelog starts with '${DF_CHANGELOG_TOP}', "
    "but the packages are version ${DF_DEB_VERSION}: add a changelog entry")
endif()

# Debian wants changelogs, man pages and long documents gzipped at maximum compression without a time
# stamp in the gzip header, so that rebuilds are byte-identical.
find_program(DF_GZIP gzip)
set(DF_DEB_DOCS ${CMAKE_BINARY_DIR}/debian-docs)
set(DF_DEB_GZ ${DF_DEB_DOCS}/changelog.Debian.gz ${DF_DEB_DOCS}/dotforge-preview.1.gz ${DF_DEB_DOCS}/README.md.gz)
set(DF_DEB_GZ_SRC ${DF_PKG_DIR}/changelog ${DF_PKG_DIR}/man/dotforge-preview.1 ${CMAKE_SOURCE_DIR}/README.md)
if(TARGET dotforge-app)
  list(APPEND DF_DEB_GZ ${DF_DEB_DOCS}/dotforge-app.1.gz)
  list(APPEND DF_DEB_GZ_SRC ${DF_PKG_DIR}/man/dotforge-app.1)
endif()
if(NOT DF_GZIP)
  message(STATUS "gzip not found: the Debian packages cannot be built")
  return()
endif()
set(DF_GZ_COMMANDS "")
foreach(src out IN ZIP_LISTS DF_DEB_GZ_SRC DF_DEB_GZ)
  list(APPEND DF_GZ_COMMANDS COMMAND sh -c "${DF_GZIP} -9n -c \"$0\" > \"$1\"" ${src} ${out})
endforeach()
add_custom_command(OUTPUT ${DF_DEB_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DF_DEB_DOCS}
  ${DF_GZ_COMMANDS}
  DEPENDS ${DF_DEB_GZ_SRC}
  COMMENT "Compressing the Debian changelog and man pages"
  VERBATIM)
add_custom_target(debian-docs ALL DEPENDS ${DF_DEB_GZ})

# --- printer-driver-dotforge: everything `make install` installs (the
# install rules without a component) plus its documentation.
set(DF_DRIVER_DOC ${CMAKE_INSTALL_DATADIR}/doc/printer-driver-dotforge)
install(FILES ${DF_DEB_DOCS}/README.md.gz ${DF_PKG_DIR}/copyright ${DF_DEB_DOCS}/changelog.Debian.gz
  DESTINATION ${DF_DRIVER_DOC} COMPONENT Unspecified EXCLUDE_FROM_ALL)
install(FILES ${DF_DEB_DOCS}/dotforge-preview.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Unspecified EXCLUDE_FROM_ALL)
# CUPS's package runs this on every driver upgrade: queues whose PPD came from
# lsb/usr/dotforge/ get the new PPD, keeping their option settings.
install(FILES ${DF_PKG_DIR}/printer-driver-dotforge.ppd-updater
  DESTINATION ${CMAKE_INSTALL_DATADIR}/cups/ppd-updaters COMPONENT Unspecified EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME dotforge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the dotforge authors")
set(CPACK_PACKAGE_CONTACT "${DOTFORGE_DEB_MAINTAINER}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${DF_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE dotforge)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DOTFORGE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The board's own architecture (amd64, arm64, armhf, ...), never a fixed one.
find_program(DF_DPKG dpkg)
if(DF_DPKG)
  execute_process(COMMAND ${DF_DPKG} --print-architecture
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME printer-driver-dotforge)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_SECTION text)
# PDF and text jobs reach the filter through cups-filters' pdftopdf and
# gstoraster (Ghostscript); images through imagetoraster.
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS "cups, cups-filters, ghostscript")
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION
"printer driver for thermal label, receipt and mini printers
This package contains a CUPS filter and PPD files for cheap thermal printers:
4-inch TSPL label printers (203 and 300 dpi), 58 mm and 80 mm ESC/POS receipt
printers, CPCL label printers and the Paperang and PeriPage pocket printers.
The filter turns CUPS raster pages into 1-bit images (threshold or one of ten
dithers, brightness, contrast, rotation, white-margin cropping) and writes the
printer's own commands, for USB, network and serial or Bluetooth printers.
.
It also contains dotforge-preview, which turns a captured printer stream back
into PNG pictures and a listing of its commands.")
set(CPACK_COMPONENTS_ALL Unspecified)

# --- dotforge-app: the printer application as a system service.
if(TARGET dotforge-app)
  install(TARGETS dotforge-app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT app EXCLUDE_FROM_ALL)
  # Where the release keeps system units: /lib on Debian 12, /usr/lib from 13
  # on (its lintian rejects /lib as an aliased location). systemd.pc says so
  # where it is installed (package systemd on 12, systemd-dev on 13), else the
  # release number does (packaging/unitdir.sh, which the package test asks too).
  execute_process(COMMAND sh ${DF_PKG_DIR}/unitdir.sh OUTPUT_VARIABLE DF_DEB_UNIT_DIR
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  install(FILES ${CMAKE_SOURCE_DIR}/app/dotforge-app.service
    DESTINATION ${DF_DEB_UNIT_DIR} COMPONENT app EXCLUDE_FROM_ALL)
  # Without systemd (containers, minimal boards): `service dotforge-app start`.
  install(PROGRAMS ${DF_PKG_DIR}/dotforge-app/dotforge-app.init
    DESTINATION /etc/init.d RENAME dotforge-app COMPONENT app EXCLUDE_FROM_ALL)
  install(FILES ${DF_DEB_DOCS}/dotforge-app.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT app EXCLUDE_FROM_ALL)
  install(FILES ${DF_PKG_DIR}/copyright ${DF_DEB_DOCS}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/dotforge-app COMPONENT app EXCLUDE_FROM_ALL)
  set(CPACK_DEBIAN_APP_PACKAGE_NAME dotforge-app)
  set(CPACK_DEBIAN_APP_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "adduser")
  # DNS-SD: how phones and other computers find the printers it serves.
  set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "avahi-daemon")
  # Bluetooth LE printers (the ble: scheme) are reached through BlueZ.
  set(CPACK_DEBIAN_APP_PACKAGE_SUGGESTS "bluez")
  set(CPACK_DEBIAN_APP_PACKAGE_CONTROL_EXTRA
    ${DF_PKG_DIR}/dotforge-app/postinst ${DF_PKG_DIR}/dotforge-app/prerm ${DF_PKG_DIR}/dotforge-app/postrm
    ${DF_PKG_DIR}/dotforge-app/conffiles)
  set(CPACK_DEBIAN_APP_DESCRIPTION
"printer application for thermal label, receipt and mini printers
dotforge-app is an IPP Everywhere printer application for cheap thermal
printers: 4-inch TSPL and CPCL label printers, 58 mm and 80 mm ESC/POS receipt
printers and the Paperang and PeriPage pocket printers, connected by USB, the
network or a serial port. Any IPP client (CUPS, phones, other operating
systems) can print to it without a printer driver.
.
The package runs it as the systemd service dotforge-app.service (or, without
systemd, the init script /etc/init.d/dotforge-app) under its own system user,
with its state in /var/lib/dotforge-app.")
  list(APPEND CPACK_COMPONENTS_ALL app)
endif()

include(CPack)
