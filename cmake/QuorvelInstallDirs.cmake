# Installation directories. On Debian and its derivatives the libraries go to
# the multiarch directory (lib/x86_64-linux-gnu) whatever the prefix: that is
# where the Debian packages must put them, and the dynamic linker searches
# /usr/local/lib/<triplet> as well. Elsewhere GNUInstallDirs decides (lib64
# on RHEL-family systems). Included before any target is installed.
# A build tree configured before keeps GNUInstallDirs' "lib" in its cache,
# recognised by its description; a directory given on the command line stays.
if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  get_property(_quorvel_libdir_help CACHE CMAKE_INSTALL_LIBDIR PROPERTY HELPSTRING)
  if(NOT DEFINED CMAKE_INSTALL_LIBDIR OR
     (CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND _quorvel_libdir_help STREQUAL "Object code libraries (lib)"))
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (LIBDIR)" FORCE)
  endif()
endif()
include(GNUInstallDirs)
