# Debian and RPM packages through CPack, one package per install component
# (see QuorvelInstall.cmake), from the build tree itself: `make package` or
# `cpack -G "DEB;RPM"` in the build directory.
#
# Debian:  libquorvel1, libquorvel-dev, quorvel-tools, quorvel-hostparam-env,
#          quorvel-dbg (the debug information of the stripped binaries).
# RPM:     quorvel, quorvel-devel, quorvel-tools, quorvel-hostparam (no
#          debug information package: see below).

set(QUORVEL_MAINTAINER "quorvel maintainers <quorvel-maintainers@lists.quorvel.org>")
set(QUORVEL_PACKAGE_RELEASE 1)
set(QUORVEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

set(QUORVEL_PACKAGE_COMPONENTS runtime development hostparam)
if(TARGET quorvel-emit)
  list(APPEND QUORVEL_PACKAGE_COMPONENTS tools)
endif()
if(NOT TARGET hostparam)
  list(REMOVE_ITEM QUORVEL_PACKAGE_COMPONENTS hostparam)
endif()
list(APPEND QUORVEL_PACKAGE_COMPONENTS debug)

set(QUORVEL_DEB_NAME_runtime libquorvel1)
set(QUORVEL_DEB_NAME_development libquorvel-dev)
set(QUORVEL_DEB_NAME_tools quorvel-tools)
set(QUORVEL_DEB_NAME_hostparam quorvel-hostparam-env)
set(QUORVEL_RPM_NAME_runtime quorvel)
set(QUORVEL_RPM_NAME_development quorvel-devel)
set(QUORVEL_RPM_NAME_tools quorvel-tools)
# (rpmlint reads a name ending in "-env" as a translation package's.)
set(QUORVEL_RPM_NAME_hostparam quorvel-hostparam)
set(QUORVEL_DEB_NAME_debug quorvel-dbg)

# Every package carries the copyright file (Debian: with the changelog, in
# /usr/share/doc/PACKAGE, and lintian's overrides; RPM: in
# /usr/share/licenses/PACKAGE, except the library package, which holds only
# files named by the library's version and states its licence in its header). They are
# installed only while CPack builds a package: CPACK_PROJECT_CONFIG_FILE names
# the package format in the environment of the install scripts, which CPack
# runs in its own process.
set(QUORVEL_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${QUORVEL_DEB_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${QUORVEL_PACKAGING_DIR}/debian/changelog ${QUORVEL_DEB_CHANGELOG}
  DEPENDS ${QUORVEL_PACKAGING_DIR}/debian/changelog
  COMMENT "Compressing the Debian changelog" VERBATIM)
add_custom_target(quorvel_package_docs ALL DEPENDS ${QUORVEL_DEB_CHANGELOG})

configure_file(cmake/QuorvelCPackOptions.cmake.in ${PROJECT_BINARY_DIR}/packaging/QuorvelCPackOptions.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/packaging/QuorvelCPackOptions.cmake
  INPUT ${PROJECT_BINARY_DIR}/packaging/QuorvelCPackOptions.cmake.in)
foreach(component IN LISTS QUORVEL_PACKAGE_COMPONENTS)
  install(CODE "
    if(\"\$ENV{QUORVEL_PACKAGE_FORMAT}\" STREQUAL \"DEB\")
      file(INSTALL \"${QUORVEL_PACKAGING_DIR}/copyright\" \"${QUORVEL_DEB_CHANGELOG}\"
        DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/doc/${QUORVEL_DEB_NAME_${component}}\"
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      file(INSTALL \"${QUORVEL_PACKAGING_DIR}/debian/lintian-overrides\"
        DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides\"
        RENAME ${QUORVEL_DEB_NAME_${component}}
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    elseif(\"\$ENV{QUORVEL_PACKAGE_FORMAT}\" STREQUAL \"RPM\" AND NOT \"${component}\" STREQUAL \"runtime\")
      file(INSTALL \"${QUORVEL_PACKAGING_DIR}/copyright\"
        DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/licenses/${QUORVEL_RPM_NAME_${component}}\"
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()"
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The quorvel developers")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/QuorvelCPackOptions.cmake)
set(CPACK_COMPONENTS_ALL ${QUORVEL_PACKAGE_COMPONENTS})
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "security-audit events (XDAS and CEF) through log4cxx
libquorvel renders a security-audit event, filled by a server in the XDAS or
the CEF model, as exactly one line and logs it through Apache log4cxx, which
sends it on to files, syslog or a collector as its configuration says.

This package holds the shared library libquorvel.so.1. It needs a parameter
service providing GetParam in libhostparam.so.1: the host server's own, or
the stand-in of the quorvel-hostparam-env package.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "security-audit events through log4cxx - development files
libquorvel renders a security-audit event, filled by a server in the XDAS or
the CEF model, as exactly one line and logs it through Apache log4cxx.

This package holds what building against libquorvel needs: the headers, the
libquorvel.so link, the pkg-config file quorvel.pc and the CMake package
(find_package(quorvel CONFIG), target quorvel::quorvel).")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "security-audit events through log4cxx - operators' tools
libquorvel renders a security-audit event, filled by a server in the XDAS or
the CEF model, as exactly one line and logs it through Apache log4cxx.

This package holds the operators' tools: quorvel-catalog-check checks a CEF
message catalogue the way the library reads it, quorvel-emit logs one
event through a log4cxx configuration exactly as a server would,
quorvel-verify makes the auditor's keys and verifies a sealed trail,
quorvel-preflight checks whether a host's appenders can deliver, and
quorvel-sealagent keeps the host ledger of the sealed trail as the host's
agent (with its systemd unit).")
set(CPACK_COMPONENT_HOSTPARAM_DESCRIPTION "security-audit events through log4cxx - stand-in parameter service
libquorvel asks its host server's parameter service, a library
libhostparam.so.1 providing GetParam, for the directory of its CEF message
catalogue.

This package holds a stand-in for hosts without such a service: it answers
GetParam from environment variables (vrq.server.configdir from
VRQ_SERVER_CONFIGDIR). It is installed in libquorvel's own directory, never
in the system's, so it cannot replace a host's own library of that name.")

# The binaries are stripped as CPack installs them; their debug information
# goes to a package of its own (component "debug", not part of a plain
# install), as files named by build ID under /usr/lib/debug/.build-id, where
# debuggers look for them.
set(CPACK_STRIP_FILES ON)
set(QUORVEL_DEBUG_BINARIES $<TARGET_FILE:quorvel>)
foreach(target hostparam quorvel-catalog-check quorvel-emit quorvel-verify quorvel-preflight quorvel-sealagent)
  if(TARGET ${target})
    list(APPEND QUORVEL_DEBUG_BINARIES $<TARGET_FILE:${target}>)
  endif()
endforeach()
find_program(QUORVEL_OBJCOPY NAMES objcopy)
find_program(QUORVEL_READELF NAMES readelf)
install(CODE "
  foreach(binary IN ITEMS ${QUORVEL_DEBUG_BINARIES})
    execute_process(COMMAND \"${QUORVEL_READELF}\" -n \"\${binary}\" OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
    if(NOT notes MATCHES \"Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)\")
      message(FATAL_ERROR \"\${binary} has no build ID\")
    endif()
    set(debug \"${PROJECT_BINARY_DIR}/packaging/debug/\${CMAKE_MATCH_1}/\${CMAKE_MATCH_2}.debug\")
    get_filename_component(debug_dir \"\${debug}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${debug_dir}\")
    execute_process(COMMAND \"${QUORVEL_OBJCOPY}\" --only-keep-debug --compress-debug-sections \"\${binary}\" \"\${debug}\"
      COMMAND_ERROR_IS_FATAL ANY)
    file(INSTALL \"\${debug}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id/\${CMAKE_MATCH_1}\"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()"
  COMPONENT debug EXCLUDE_FROM_ALL)
set(CPACK_COMPONENT_DEBUG_DEPENDS runtime)
set(CPACK_COMPONENT_DEBUG_DESCRIPTION "security-audit events through log4cxx - debug information
libquorvel renders a security-audit event, filled by a server in the XDAS or
the CEF model, as exactly one line and logs it through Apache log4cxx.

This package holds the debug information of libquorvel, of the stand-in
parameter service and of the operators' tools, which the other packages ship
stripped.")

# Debian packages.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORVEL_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE quorvel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
foreach(component IN LISTS QUORVEL_PACKAGE_COMPONENTS)
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${QUORVEL_DEB_NAME_${component}})
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_HOSTPARAM_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEBUG_PACKAGE_SECTION debug)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "liblog4cxx-dev")
if(TARGET hostparam)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS quorvel-hostparam-env)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS quorvel-hostparam-env)
endif()
# The run-time dependencies of the tools and the stand-in come from
# dpkg-shlibdeps; the libraries of this build are found in the build tree
# and depended on by package name instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
if(TARGET hostparam)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/hostparam)
endif()
# libquorvel1's are found the same way, but by QuorvelCPackOptions.cmake:
# CPack adds maintainer scripts calling ldconfig to any package whose shared
# libraries it examines in /usr/lib, where Debian refreshes the linker's cache
# by trigger (the triggers file below). Its symbols file is made there too,
# by dpkg-gensymbols from the template in packaging/, which names the version
# node of quorvel.map that every exported symbol carries.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${QUORVEL_PACKAGING_DIR}/debian/libquorvel1/shlibs
  ${PROJECT_BINARY_DIR}/packaging/libquorvel1/symbols
  ${QUORVEL_PACKAGING_DIR}/debian/libquorvel1/triggers)

# RPM packages, for RHEL-family systems: built from a build tree of their own
# configured with packaging/rpm/build-settings.cmake (`make package`). Each
# component's summary is the first line of its description. rpmbuild finds
# the run-time requirements itself; the debug information is left to the
# distribution's own debuginfo machinery.
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE ${QUORVEL_PACKAGE_RELEASE})
set(CPACK_RPM_PACKAGE_LICENSE Apache-2.0)
# No debuginfo package, so no /usr/lib/.build-id links to match one.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${QUORVEL_MAINTAINER}\n%define _build_id_links none")
set(QUORVEL_RPM_EXACT_VERSION "${PROJECT_VERSION}-${QUORVEL_PACKAGE_RELEASE}")
foreach(component IN LISTS QUORVEL_PACKAGE_COMPONENTS)
  string(TOUPPER ${component} COMPONENT)
  if(QUORVEL_RPM_NAME_${component})
    set(CPACK_RPM_${COMPONENT}_PACKAGE_NAME ${QUORVEL_RPM_NAME_${component}})
    string(FIND "${CPACK_COMPONENT_${COMPONENT}_DESCRIPTION}" "\n" end_of_summary)
    string(SUBSTRING "${CPACK_COMPONENT_${COMPONENT}_DESCRIPTION}" 0 ${end_of_summary} CPACK_RPM_${COMPONENT}_PACKAGE_SUMMARY)
    math(EXPR start_of_description "${end_of_summary} + 1")
    string(SUBSTRING "${CPACK_COMPONENT_${COMPONENT}_DESCRIPTION}" ${start_of_description} -1
      CPACK_RPM_${COMPONENT}_PACKAGE_DESCRIPTION)
  endif()
endforeach()
# The development package needs the runtime of the same architecture, as
# rpm names it with the architecture suffix it provides (quorvel(x86-64)).
execute_process(COMMAND rpm --eval "%{?_isa}" OUTPUT_VARIABLE QUORVEL_RPM_ISA OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
set(CPACK_RPM_DEVELOPMENT_PACKAGE_REQUIRES "quorvel${QUORVEL_RPM_ISA} = ${QUORVEL_RPM_EXACT_VERSION}, log4cxx-devel")
set(CPACK_RPM_TOOLS_PACKAGE_REQUIRES "quorvel = ${QUORVEL_RPM_EXACT_VERSION}")
set(CPACK_RPM_RUNTIME_POST_INSTALL_SCRIPT_FILE ${QUORVEL_PACKAGING_DIR}/rpm/ldconfig.sh)
set(CPACK_RPM_RUNTIME_POST_UNINSTALL_SCRIPT_FILE ${QUORVEL_PACKAGING_DIR}/rpm/ldconfig.sh)
# Directories other packages of the system own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /usr/${CMAKE_INSTALL_LIBDIR} /usr/${CMAKE_INSTALL_LIBDIR}/pkgconfig /usr/${CMAKE_INSTALL_LIBDIR}/cmake
  /usr/share/man /usr/share/man/man1 /usr/share/licenses)

set(CPACK_GENERATOR DEB RPM)
include(CPack)
