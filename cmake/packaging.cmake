# What an installation gets besides the programs, and the packages:
#   cpack -G DEB   in a Linux build folder (release): tormel_VERSION_ARCH.deb
#   cpack -G ZIP   in the windows build folder: tormel-VERSION-win64.zip
# `cmake --install` of a Linux build installs the default component and
# "source" under its prefix (/usr/local); the Debian package takes the
# default component and "deb", under /usr, /etc and /lib.

# The Debian package names its maintainer; set it for a package you hand out.
set(TORMEL_PACKAGE_MAINTAINER "Tormel maintainers <tormel@example.org>" CACHE STRING
  "Maintainer of the Debian package: name and mail address")
# The date of the changelog entry: now, or SOURCE_DATE_EPOCH when set.
string(TIMESTAMP TORMEL_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(CPACK_PACKAGE_NAME tormel)
set(CPACK_PACKAGE_VENDOR "Tormel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "store-and-forward service for records in buffer files")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(FILES README.md examples/SOCKIO.INI packaging/windows/INSTALL.txt DESTINATION .)
  set(CPACK_PACKAGE_FILE_NAME tormel-${PROJECT_VERSION}-win64)
  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The service's unit, and the metrics service with its timer (installed,
# never enabled: the operator enables tormel-metrics.timer).
set(TORMEL_UNITS tormel.service tormel-metrics.service tormel-metrics.timer)
# The units for the installed layout whose programs are in bindir and
# whose documentation is in docdir, written to folder: the templates
# packaging/NAME.in name them @CMAKE_INSTALL_FULL_BINDIR@ and
# @CMAKE_INSTALL_FULL_DOCDIR@; a unit without a template is copied.
function(tormel_units folder bindir docdir)
  set(CMAKE_INSTALL_FULL_BINDIR ${bindir})
  set(CMAKE_INSTALL_FULL_DOCDIR ${docdir})
  foreach(name ${TORMEL_UNITS})
    if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/${name}.in)
      configure_file(${PROJECT_SOURCE_DIR}/packaging/${name}.in ${folder}/${name} @ONLY)
    else()
      configure_file(${PROJECT_SOURCE_DIR}/packaging/${name} ${folder}/${name} COPYONLY)
    endif()
  endforeach()
endfunction()

# The manual pages: name.section in man/.
set(TORMEL_MAN_PAGES tormel.8 tormelctl.8 tormel-receiver.1 SOCKIO.INI.5)

# A source build: the example beside the programs, the units and the
# manual pages under the prefix.
tormel_units(${PROJECT_BINARY_DIR}/source ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DOCDIR})
install(FILES examples/SOCKIO.INI DESTINATION ${CMAKE_INSTALL_DATADIR}/tormel/examples COMPONENT source)
foreach(name ${TORMEL_UNITS})
  install(FILES ${PROJECT_BINARY_DIR}/source/${name} DESTINATION lib/systemd/system COMPONENT source)
endforeach()
foreach(page ${TORMEL_MAN_PAGES})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT source)
endforeach()

# The Debian package: the unit where Debian keeps units, the parameter file
# in place as a configuration file, the example and the package's own
# papers with the documentation.
set(deb ${PROJECT_BINARY_DIR}/deb)
tormel_units(${deb} /usr/bin /usr/share/doc/tormel)
configure_file(packaging/debian/changelog.in ${deb}/changelog @ONLY)
add_custom_command(OUTPUT ${deb}/changelog.gz
  COMMAND gzip -9 -n -c ${deb}/changelog > ${deb}/changelog.gz
  DEPENDS ${deb}/changelog VERBATIM)
add_custom_target(tormel_deb_changelog ALL DEPENDS ${deb}/changelog.gz)
install(FILES examples/SOCKIO.INI DESTINATION /etc/comm COMPONENT deb EXCLUDE_FROM_ALL)
foreach(name ${TORMEL_UNITS})
  install(FILES ${deb}/${name} DESTINATION /lib/systemd/system COMPONENT deb EXCLUDE_FROM_ALL)
endforeach()
# Debian keeps manual pages compressed, without names or times in the gzip
# header.
set(man_gz "")
foreach(page ${TORMEL_MAN_PAGES})
  string(REGEX MATCH "[0-9]$" section ${page})
  add_custom_command(OUTPUT ${deb}/${page}.gz
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/man/${page} > ${deb}/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page} VERBATIM)
  list(APPEND man_gz ${deb}/${page}.gz)
  install(FILES ${deb}/${page}.gz DESTINATION share/man/man${section} COMPONENT deb EXCLUDE_FROM_ALL)
endforeach()
add_custom_target(tormel_deb_man ALL DEPENDS ${man_gz})
install(FILES examples/SOCKIO.INI DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES packaging/debian/copyright ${deb}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Tormel;Unspecified;/;${PROJECT_BINARY_DIR};Tormel;deb;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TORMEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_PACKAGE_DESCRIPTION [=[Other programs leave records as text lines in numbered buffer files; Tormel
sends each pending record to the receiving station named in its file over
TCP, marks it delivered once the receiver has acknowledged it, and removes
fully delivered files. It runs unattended as a systemd service under the
system user tormel; producers are members of the group tormel.]=])
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
