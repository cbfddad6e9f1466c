# Installation directories. On Debian and its derivatives the libraries go to
# the multiarch directory (lib/x86_64-linux-gnu) whatever the prefix: that is
# where the Debian packages must put them, and the dynamic linker searches
# /usr/local/lib/<triplet> as well. Elsewhere GNUInstallDirs decides (lib64
# on RHEL-family systems). Included before any target is installed.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
