# Installation: the library with its SONAME link, the public headers, a CMake
# package (find_package(quorvel CONFIG) -> quorvel::quorvel), a pkg-config
# file, and a Debian package through CPack.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(quorvel PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# A log4cxx outside the system's library directories stays on the installed
# library's run path, so the log4cxx it was built against is the one loaded.
set(QUORVEL_INSTALLED_TARGETS quorvel)
set(QUORVEL_LIBRARY_RUNPATH ${QUORVEL_LOG4CXX_RUNPATH})
if(TARGET hostparam)
  # libquorvel needs the stand-in parameter service at run time; installed
  # beside it, it is found through the library's own run path, whatever the
  # prefix.
  list(APPEND QUORVEL_INSTALLED_TARGETS hostparam)
  list(PREPEND QUORVEL_LIBRARY_RUNPATH "$ORIGIN")
endif()
set_target_properties(quorvel PROPERTIES INSTALL_RPATH "${QUORVEL_LIBRARY_RUNPATH}")

install(TARGETS ${QUORVEL_INSTALLED_TARGETS}
  EXPORT quorvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(DIRECTORY include/quorvel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorvel)
install(EXPORT quorvelTargets NAMESPACE quorvel:: DESTINATION ${QUORVEL_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/quorvelConfig.cmake.in ${PROJECT_BINARY_DIR}/quorvelConfig.cmake
  INSTALL_DESTINATION ${QUORVEL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvelConfig.cmake ${PROJECT_BINARY_DIR}/quorvelConfigVersion.cmake
  DESTINATION ${QUORVEL_CMAKE_DIR} COMPONENT development)

file(RELATIVE_PATH QUORVEL_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" QUORVEL_PC_PREFIX_FROM_PCDIR "${QUORVEL_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/quorvel.pc.in ${PROJECT_BINARY_DIR}/quorvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorvel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# Debian package: the run-time dependencies are those of the shared library.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_CONTACT "quorvel maintainers <quorvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
