# `cpack -G DEB` in the build folder (or scripts/package) makes two packages from the install
# rules, one per component:
#   tolvane-installer      the player's: the installer, its window module and resources;
#   tolvane-update-server  the operators': the tool that publishes and serves releases.
# Library dependencies come from dpkg-shlibdeps when it is there; the tools the installer
# runs (unzip) and the runtime libraries are named as well, so the packages are right also
# where dpkg-shlibdeps is missing.
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
set(CPACK_DEBIAN_INSTALLER_PACKAGE_DEPENDS "unzip, libcurl4, libwxgtk3.2-1, libutf8proc2, libzip4")
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
endif()

# Debian policy: every package carries its copyright file and a compressed changelog.
set(debian_docs ${CMAKE_BINARY_DIR}/debian-docs)
file(MAKE_DIRECTORY ${debian_docs})
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component installer update_server)
  string(REPLACE "_" "-" package "tolvane-${component}")
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
