# Initial cache of the build tree the RPM packages come from
# (cmake -C packaging/rpm/build-settings.cmake): the libraries in lib64,
# executable as RHEL-family systems install them and with both symbol hash
# tables, and only the library, the stand-in and the tools built.
set(CMAKE_INSTALL_LIBDIR lib64 CACHE PATH "Object code libraries")
set(CMAKE_INSTALL_SO_NO_EXE OFF CACHE BOOL "Install shared libraries without the execute permission")
set(CMAKE_SHARED_LINKER_FLAGS "-Wl,--hash-style=both" CACHE STRING "Flags used by the linker for shared libraries")
set(QUORVEL_BUILD_TESTS OFF CACHE BOOL "Build the test suite")
set(QUORVEL_BUILD_EXAMPLES OFF CACHE BOOL "Build the example programs and the programs of the measuring harnesses (examples/, measure/)")
set(QUORVEL_BUILD_BENCH OFF CACHE BOOL "Build the benchmark programs")
