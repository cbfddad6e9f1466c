#!/bin/sh
# Installs the build into a temporary prefix, builds examples/consumer against
# the installed copy with CMake and with pkg-config, runs both, and runs the
# installed tools; each program must load the log4cxx quorvel was built
# against. Usage: install_consumer_test.sh BUILD_DIR SOURCE_DIR LOG4CXX_LIBRARY
set -eu
build=$1
source=$2
log4cxx=$3
work=$(mktemp -d /tmp/quorvel-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export VRQ_SERVER_CONFIGDIR="$source/examples"
config=$source/examples/log4cxx.properties

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The consumer's two lines with the construction time, the host name and the
# clock reading taken out.
normalised() {
    sed -e 's/rt=[0-9]* dtz=[^ ]* /rt=T /' \
        -e 's/"Observer" : {"Entity" : {"SysName" : "[^"]*"}},//' \
        -e 's/"Offset" : [0-9]*//'
}
cat > "$work/expected" <<'LINES'
INFO  [consumer] audit.cef:CEF:0|Example|Consumer|1.0|100|Login|4|rt=T spt=0 suser=alice msg=User alice logged in 
INFO  [consumer] audit.xdas: {"Initiator" : {"Account" : {"Name" : "alice"}},"Action" : {"Event" : {"Name" : "LOGIN"},"Time" : {},"Log" : {"Severity" : 7}}}
LINES

cmake --install "$build" --prefix "$prefix" > "$work/install.log" || fail "cmake --install"
for file in bin/quorvel-catalog-check bin/quorvel-emit include/quorvel/quorvel.h; do
    [ -f "$prefix/$file" ] || fail "$file not installed"
done
pc=$(find "$prefix" -name quorvel.pc)
[ -n "$pc" ] || fail "quorvel.pc not installed"
[ -L "$(dirname "$pc")/../libquorvel.so.1" ] || fail "SONAME link libquorvel.so.1 not installed"

# The log4cxx library file a program loads, resolved.
loaded_log4cxx() {
    ldd "$1" | sed -n 's/^[[:space:]]*liblog4cxx[^ ]* => \([^ ]*\) .*/\1/p' | xargs -r readlink -f
}
loads_log4cxx_built_against() {
    [ "$(loaded_log4cxx "$1")" = "$log4cxx" ] ||
        fail "$1 loads log4cxx from '$(loaded_log4cxx "$1")', not $log4cxx"
}

# With CMake: find_package(quorvel CONFIG REQUIRED), target quorvel::quorvel.
cmake -S "$source/examples/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" > "$work/cmake.log" 2>&1 ||
    { cat "$work/cmake.log"; fail "configuring the consumer with CMake"; }
cmake --build "$work/cmake" > "$work/cmake-build.log" 2>&1 ||
    { cat "$work/cmake-build.log"; fail "building the consumer with CMake"; }
loads_log4cxx_built_against "$work/cmake/consumer"
"$work/cmake/consumer" "$config" | normalised > "$work/cmake.out"
diff -u "$work/expected" "$work/cmake.out" || fail "the CMake-built consumer's output"

# With pkg-config, the installed prefix not being a system one; the log4cxx
# built against may not be one either.
export PKG_CONFIG_PATH="$(dirname "$pc"):$(dirname "$log4cxx")/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror "$source/examples/consumer/consumer.cpp" \
    $(pkg-config --cflags --libs quorvel) -Wl,-rpath,"$(pkg-config --variable=libdir quorvel)" \
    -o "$work/pc-consumer" || fail "building the consumer with pkg-config"
loads_log4cxx_built_against "$work/pc-consumer"
"$work/pc-consumer" "$config" | normalised > "$work/pc.out"
diff -u "$work/expected" "$work/pc.out" || fail "the pkg-config-built consumer's output"

# The tools, from the installed prefix.
loads_log4cxx_built_against "$prefix/bin/quorvel-emit"
"$prefix/bin/quorvel-catalog-check" "$source/examples/OstradEventDesc.conf" > "$work/check.out" ||
    fail "installed quorvel-catalog-check"
"$prefix/bin/quorvel-emit" cef --config "$config" --logger audit --set SignatureID=100 --set suser=bob \
    --set Severity=4 --print > "$work/emit.out" || fail "installed quorvel-emit"
grep -q '^CEF:0|||||*100||4|.*suser=bob msg=User bob logged in $' "$work/emit.out" || fail "installed quorvel-emit's line"
