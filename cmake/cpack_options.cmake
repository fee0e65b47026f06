# Per package: the .deb installs under /usr, without the archive's own files (the copyright file
# carries the licence); the archive keeps the tree as `cmake --install` makes it, and has them.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  string(REPLACE ";ALL;" ";Unspecified;" CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_INSTALL_CMAKE_PROJECTS}")
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
endif()
