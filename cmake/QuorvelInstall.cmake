# Installation: the library with its SONAME link, the public headers, a CMake
# package (find_package(quorvel CONFIG) -> quorvel::quorvel), a pkg-config
# file, the tools with their manual pages, and Debian and RPM packages through
# CPack.
#
# Every file belongs to one of four components, which become the packages:
#   runtime      libquorvel.so.1                      libquorvel1 / quorvel
#   development  headers, .so link, CMake, quorvel.pc libquorvel-dev / quorvel-devel
#   tools        the five tools, their manual pages,  quorvel-tools
#                the host agent's systemd unit
#   hostparam    the stand-in parameter service       quorvel-hostparam-env

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(quorvel PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# The stand-in parameter service lives in a directory of its own under the
# library directory, never in the system's: a host server's own
# libhostparam.so.1 has the same name. libquorvel and the tools find it
# through their run paths, relative to where they are installed, whatever the
# prefix. A log4cxx outside the system's library directories stays on the run
# paths too, so the log4cxx built against is the one loaded.
set(QUORVEL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/quorvel)
set(QUORVEL_LIBRARY_RUNPATH ${QUORVEL_LOG4CXX_RUNPATH})
set(QUORVEL_TOOLS_RUNPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}" ${QUORVEL_LOG4CXX_RUNPATH})
if(TARGET hostparam)
  list(PREPEND QUORVEL_LIBRARY_RUNPATH "$ORIGIN/quorvel")
  list(APPEND QUORVEL_TOOLS_RUNPATH "$ORIGIN/../${QUORVEL_PRIVATE_LIBDIR}")
  install(TARGETS hostparam
    LIBRARY DESTINATION ${QUORVEL_PRIVATE_LIBDIR} COMPONENT hostparam NAMELINK_SKIP)
endif()
set_target_properties(quorvel PROPERTIES INSTALL_RPATH "${QUORVEL_LIBRARY_RUNPATH}")

install(TARGETS quorvel
  EXPORT quorvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
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

if(TARGET quorvel-emit)
  set_target_properties(quorvel-catalog-check quorvel-emit quorvel-verify quorvel-preflight quorvel-sealagent PROPERTIES INSTALL_RPATH "${QUORVEL_TOOLS_RUNPATH}")
  # The manual pages, compressed as the packages want them (man reads them
  # so from any prefix).
  set(QUORVEL_MAN_PAGES)
  foreach(page quorvel-catalog-check.1 quorvel-emit.1 quorvel-verify.1 quorvel-preflight.1 quorvel-sealagent.1)
    set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${PROJECT_SOURCE_DIR}/tools/man/${page} ${compressed}
      DEPENDS ${PROJECT_SOURCE_DIR}/tools/man/${page}
      COMMENT "Compressing the manual page ${page}" VERBATIM)
    list(APPEND QUORVEL_MAN_PAGES ${compressed})
  endforeach()
  add_custom_target(quorvel_man_pages ALL DEPENDS ${QUORVEL_MAN_PAGES})
  install(FILES ${QUORVEL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  # The host agent's systemd unit: in /lib/systemd/system in the Debian
  # package (where Debian 12 keeps units), in lib/systemd/system under the
  # prefix otherwise (/usr/lib for the RPM, /usr/local/lib for make install).
  install(CODE "
    if(\"\$ENV{QUORVEL_PACKAGE_FORMAT}\" STREQUAL \"DEB\")
      set(unitDir \"\${CMAKE_INSTALL_PREFIX}/../lib/systemd/system\")
    else()
      set(unitDir \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
    endif()
    file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/quorvel-sealagent.service\" DESTINATION \"\${unitDir}\"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)"
    COMPONENT tools)
endif()

include(cmake/QuorvelPackage.cmake)
