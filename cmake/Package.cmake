# `make package`: a Debian package of what an install puts in place, under /usr. Its
# dependencies are computed from the libraries the programs link (dpkg-shlibdeps), not listed
# by hand; the desktop's caches are refreshed by the system's own dpkg triggers.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Corvane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "back up a USB stick onto CDs, DVDs or Blu-ray discs")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane backs up the whole content of a USB stick onto recordable discs, or onto ISO
image files, and restores from them. Every disc carries a portable restorer, so that a
disc restores itself on a PC where nothing is installed.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
