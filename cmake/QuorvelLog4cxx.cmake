# Finds Apache log4cxx 1.x, any release from 1.0.0 up.
#
# log4cxx's own version file accepts only its own minor release, so asking
# find_package for "1.0" would reject 1.1 ... 1.8 and fall through to whatever
# 1.0 the system has. The package is found without a version and its version
# checked here instead. A log4cxx elsewhere wins over the system's when named
# by LOG4CXX_ROOT (a CMake or environment variable), log4cxx_ROOT, log4cxx_DIR
# or CMAKE_PREFIX_PATH.
#
# Sets QUORVEL_LOG4CXX_VERSION (major.minor.patch), QUORVEL_LOG4CXX_LIBRARY
# (the library file linked), QUORVEL_LOG4CXX_RUNPATH (its directory when that
# is not one the dynamic linker searches anyway, else empty) and
# QUORVEL_LOG4CXX_CHARSET (the charset log4cxx converts the process's text
# from: "locale" unless log4cxx was built for a fixed one).

if(NOT DEFINED LOG4CXX_ROOT AND DEFINED ENV{LOG4CXX_ROOT})
  set(LOG4CXX_ROOT "$ENV{LOG4CXX_ROOT}")
endif()
if(LOG4CXX_ROOT)
  list(PREPEND CMAKE_PREFIX_PATH "${LOG4CXX_ROOT}")
endif()

# A log4cxx built with its fmt layout names fmt::fmt in its link interface
# without looking fmt up itself.
find_package(fmt QUIET)
find_package(log4cxx CONFIG REQUIRED)
if(log4cxx_VERSION VERSION_LESS 1.0 OR NOT log4cxx_VERSION VERSION_LESS 2.0)
  message(FATAL_ERROR "quorvel needs log4cxx 1.x (1.0.0 or later); found ${log4cxx_VERSION} in ${log4cxx_DIR}")
endif()

set(QUORVEL_LOG4CXX_VERSION "${log4cxx_VERSION_MAJOR}.${log4cxx_VERSION_MINOR}.${log4cxx_VERSION_PATCH}")

# The library file of the imported target, whichever configuration it names.
get_target_property(_quorvel_log4cxx_configs log4cxx IMPORTED_CONFIGURATIONS)
foreach(_quorvel_config IN LISTS _quorvel_log4cxx_configs)
  get_target_property(QUORVEL_LOG4CXX_LIBRARY log4cxx IMPORTED_LOCATION_${_quorvel_config})
  if(QUORVEL_LOG4CXX_LIBRARY)
    break()
  endif()
endforeach()
get_filename_component(QUORVEL_LOG4CXX_LIBRARY "${QUORVEL_LOG4CXX_LIBRARY}" REALPATH)
get_filename_component(QUORVEL_LOG4CXX_RUNPATH "${QUORVEL_LOG4CXX_LIBRARY}" DIRECTORY)
foreach(_quorvel_dir IN LISTS CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  get_filename_component(_quorvel_dir "${_quorvel_dir}" REALPATH)
  if(_quorvel_dir STREQUAL QUORVEL_LOG4CXX_RUNPATH)
    set(QUORVEL_LOG4CXX_RUNPATH "")
    break()
  endif()
endforeach()

# The charset is fixed when log4cxx is built and recorded in one of its
# installed headers.
set(QUORVEL_LOG4CXX_CHARSET "locale")
get_target_property(_quorvel_log4cxx_includes log4cxx INTERFACE_INCLUDE_DIRECTORIES)
foreach(_quorvel_dir IN LISTS _quorvel_log4cxx_includes)
  set(_quorvel_private_header "${_quorvel_dir}/log4cxx/private/log4cxx_private.h")
  if(EXISTS "${_quorvel_private_header}")
    file(STRINGS "${_quorvel_private_header}" _quorvel_charsets REGEX "#define LOG4CXX_CHARSET_[A-Z0-9]+ 1")
    if(_quorvel_charsets MATCHES "LOG4CXX_CHARSET_UTF8 1")
      set(QUORVEL_LOG4CXX_CHARSET "utf-8")
    elseif(_quorvel_charsets MATCHES "LOG4CXX_CHARSET_ISO88591 1")
      set(QUORVEL_LOG4CXX_CHARSET "iso-8859-1")
    elseif(_quorvel_charsets MATCHES "LOG4CXX_CHARSET_USASCII 1")
      set(QUORVEL_LOG4CXX_CHARSET "us-ascii")
    elseif(_quorvel_charsets MATCHES "LOG4CXX_CHARSET_EBCDIC 1")
      set(QUORVEL_LOG4CXX_CHARSET "ebcdic")
    endif()
    break()
  endif()
endforeach()

message(STATUS "log4cxx ${QUORVEL_LOG4CXX_VERSION}: ${QUORVEL_LOG4CXX_LIBRARY} (charset ${QUORVEL_LOG4CXX_CHARSET})")
