# `cpack -G DEB` in the build folder (or scripts/package) makes two packages from the install
# rules, one per component:
#   tolvane-installer      the player's: the installer, its window module and resources;
#   tolvane-update-server  the operators': the tool that publishes and serves releases.
# Library dependencies come from dpkg-shlibdeps when it is there, and are named by hand
# only where it is missing (each library once either way); the tools the installer runs
# (unzip, and sensible-utils for the sensible-browser the browser opener falls back to) are
# always named.
set(CPACK_GENERATOR "DEB")
# Packaging installs what is built; it must not build the test suite first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CPACK_PACKAGE_NAME "tolvane-installer")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane <support@tolvane.example>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "tolvane-installer")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Debian ships binaries without debug information (lintian: unstripped-binary-or-object).
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL installer update_server)
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_INSTALLER_PACKAGE_NAME "tolvane-installer")
# "games" is for packages that install a game under /usr/games (lintian).
set(CPACK_DEBIAN_INSTALLER_PACKAGE_SECTION "misc")
set(CPACK_COMPONENT_INSTALLER_DESCRIPTION "Installs, updates and starts the Tolvane game launcher
Provisions a bundled Java runtime, keeps the Tolvane launcher jar current
against the update server, starts the launcher and quits.")
# Opens the support page in the user's browser.
set(CPACK_DEBIAN_INSTALLER_PACKAGE_RECOMMENDS "xdg-utils")

set(CPACK_DEBIAN_UPDATE_SERVER_PACKAGE_NAME "tolvane-update-server")
set(CPACK_DEBIAN_UPDATE_SERVER_PACKAGE_SECTION "net")
set(CPACK_COMPONENT_UPDATE_SERVER_DESCRIPTION "Publishes and serves releases of the Tolvane launcher
tolvane-update-server publishes a launcher jar into a release folder with the
manifest the Tolvane installer reads, and can serve that folder over HTTPS.
A release folder can also be served by any static web server.")

find_program(TOLVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TOLVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_INSTALLER_PACKAGE_DEPENDS "unzip, sensible-utils")
else()
  set(CPACK_DEBIAN_INSTALLER_PACKAGE_DEPENDS
      "unzip, sensible-utils, libcurl4, libssl3, libutf8proc2, libwxgtk3.2-1, libzip4")
  set(CPACK_DEBIAN_UPDATE_SERVER_PACKAGE_DEPENDS "libmicrohttpd12, libssl3, libutf8proc2")
endif()

# Debian policy: every package carries its copyright file and a compressed changelog, and
# every program its manual page (docs/man, with the built-in settings filled in).
set(debian_docs ${CMAKE_BINARY_DIR}/debian-docs)
file(MAKE_DIRECTORY ${debian_docs})
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TOLVANE_MAN_RESOURCE_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${TOLVANE_RESOURCE_SUBDIR})
set(TOLVANE_MAN_MODULE_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${TOLVANE_MODULE_SUBDIR})
foreach(component installer update_server)
  # Each package is named after its program.
  string(REPLACE "_" "-" package "tolvane-${component}")
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${package}.1.in ${debian_docs}/${package}.1 @ONLY)
  execute_process(COMMAND gzip -9 -n -c ${debian_docs}/${package}.1
                  OUTPUT_FILE ${debian_docs}/${package}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${debian_docs}/${package}.1.gz DESTINATION share/man/man1 COMPONENT ${component})
  file(WRITE ${debian_docs}/${package}.changelog
    "${package} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}\n")
  execute_process(COMMAND gzip -9 -n -c ${debian_docs}/${package}.changelog
                  OUTPUT_FILE ${debian_docs}/${package}.changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${debian_docs}/${package}.changelog.gz DESTINATION share/doc/${package}
          RENAME changelog.gz COMPONENT ${component})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION share/doc/${package}
          COMPONENT ${component})
endforeach()

include(CPack)
