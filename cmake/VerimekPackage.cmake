# The Debian package (cpack -G DEB): programs, libraries, SDK, sample referential and engine
# database under /usr/share/verimek, and maintainer scripts that register the components
# machine-wide after an install and remove the registration on removal.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "verimek")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Verimek developers <dev@verimek.local>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Telebib2 EDIFACT parser, validation engine and desktop validator")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Checks insurance messages in the Telebib2 dialect of EDIFACT: a parser and a validation engine\n"
  "used as in-process components, a desktop program and verimek-cli. Ships a sample referential.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
# Dependencies from the shared libraries the programs and components link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The referential on a SQL Server goes through an ODBC driver, loaded only when configured.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tdsodbc")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Our own libraries are found in the package being built, not on the build machine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux/usr/${CMAKE_INSTALL_LIBDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_BINARY_DIR}/debian/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/prerm ${CMAKE_BINARY_DIR}/debian/prerm @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/debian/postinst;${CMAKE_BINARY_DIR}/debian/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
