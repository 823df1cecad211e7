# What a client program needs after `cmake --install`: a CMake package (find_package(Verimek
# CONFIG) gives Verimek::edicom and Verimek::headers) and a pkg-config file (verimek.pc).
include(CMakePackageConfigHelpers)

set(EDI_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Verimek)
install(EXPORT VerimekTargets NAMESPACE Verimek:: DESTINATION ${EDI_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VerimekConfig.cmake.in
  ${CMAKE_BINARY_DIR}/sdk/VerimekConfig.cmake INSTALL_DESTINATION ${EDI_CMAKE_PACKAGE_DIR})
# Class identities and interfaces stay fixed within a major version.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/sdk/VerimekConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/sdk/VerimekConfig.cmake ${CMAKE_BINARY_DIR}/sdk/VerimekConfigVersion.cmake
  DESTINATION ${EDI_CMAKE_PACKAGE_DIR})

# Relative to the .pc file, so that an install moved to another prefix still works.
set(EDI_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH EDI_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${EDI_PC_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" EDI_PC_TO_PREFIX "${EDI_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/verimek.pc.in ${CMAKE_BINARY_DIR}/sdk/verimek.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/sdk/verimek.pc DESTINATION ${EDI_PC_DIR})
