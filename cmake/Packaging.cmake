# `cpack -G DEB` in the build folder makes tolvane-installer_<version>_<arch>.deb from the
# install rules. Library dependencies come from dpkg-shlibdeps when it is there; the tools
# the program runs (unzip) and the runtime libraries are named as well, so the package is
# right also where dpkg-shlibdeps is missing.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tolvane-installer")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane <support@tolvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Installs, updates and starts the Tolvane game launcher")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "tolvane-installer")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "games")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")

find_program(TOLVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TOLVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unzip, libcurl4, libwxgtk3.2-1, libutf8proc2")
# Opens the support page in the user's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
