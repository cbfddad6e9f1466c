#!/bin/sh
# Builds the Debian packages from the build tree and the RPM packages from a
# build tree of their own, lints both, installs the Debian packages into a
# throw-away root, builds examples/consumer against them with CMake and
# pkg-config, runs the tools and renders their manual pages, runs the
# consumer with a host's own parameter service instead of the stand-in,
# removes the packages and checks that nothing is left behind. The RPM
# packages must hold what the Debian packages hold and require the same
# libraries.
# The throw-away root: the script runs again in a mount namespace of its own
# where /usr, /etc and /var are overlays of themselves whose changes land in
# a tmpfs of that namespace, gone with it. dpkg installs, runs its triggers
# (ldconfig, man-db) and purges there as on the machine, whose own files,
# dpkg database and linker cache stay as they were.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
# Exits 77 (skipped), with the reason, when not run as root or where the
# machine gives no mount namespace or overlay of its own; where
# QUORVEL_REQUIRE_ALL_TESTS is set, that fails instead.
set -eu
build=$1
source=$2
libdir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg --print-architecture)
rpm_arch=$(uname -m)
debs="libquorvel1 libquorvel-dev quorvel-tools quorvel-hostparam-env quorvel-dbg"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
skip() {
    [ -z "${QUORVEL_REQUIRE_ALL_TESTS:-}" ] || fail "cannot run here (QUORVEL_REQUIRE_ALL_TESTS): $*"
    echo "SKIPPED: $*"
    exit 77
}

if [ -z "${QUORVEL_THROWAWAY_ROOT:-}" ]; then
    [ "$(id -u)" -eq 0 ] || skip "installing the Debian packages needs root (dpkg -i in a mount namespace of its own)"
    for tree in "$build" "$source"; do
        case $(realpath "$tree")/ in /usr/* | /etc/* | /var/*)
            skip "$tree is under /usr, /etc or /var, which the throw-away root lays over" ;;
        esac
    done
    said=$(unshare -m true 2>&1) || skip "no mount namespace of its own here: unshare -m says \"$said\""
    QUORVEL_THROWAWAY_ROOT=yes exec unshare -m sh "$0" "$@"
fi

for tool in cpack dpkg-deb lintian rpmbuild rpmlint rpmsign rpm2cpio cpio gpg gpgconf man; do
    command -v "$tool" > /dev/null || fail "$tool is missing (scripts/install-deps installs it)"
done

work=$(mktemp -d /tmp/quorvel-package-XXXXXX)
cleanup() {
    [ -z "${rpm_build_pid:-}" ] || wait "$rpm_build_pid" || true
    # The GnuPG agent that signing started ends with the run.
    [ ! -d "$work/gnupg" ] || GNUPGHOME="$work/gnupg" gpgconf --kill all
    # The layers' tmpfs leaves the work directory; the overlays that use it
    # go with the namespace.
    umount -l "$work/layers" 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# Whatever a tool keeps in its home stays in the work directory.
export HOME="$work"

mkdir "$work/layers"
mount -t tmpfs -o mode=0700 quorvel-layers "$work/layers" 2> "$work/mount.err" ||
    skip "no tmpfs in a mount namespace here: $(cat "$work/mount.err")"
for dir in usr etc var; do
    mkdir "$work/layers/$dir" "$work/layers/$dir.work"
    mount -t overlay -o "lowerdir=/$dir,upperdir=$work/layers/$dir,workdir=$work/layers/$dir.work" \
        "quorvel-$dir" "/$dir" 2> "$work/mount.err" || skip "no overlay over /$dir here: $(cat "$work/mount.err")"
done

# The RPM build tree (kept in the build directory, so later runs only bring
# it up to date) compiles in the background while the Debian packages are
# made and checked.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
rpm_build=$build/packaging/rpm-build
(cmake -C "$source/packaging/rpm/build-settings.cmake" -S "$source" -B "$rpm_build" \
    -DCMAKE_BUILD_TYPE="$(cache_value CMAKE_BUILD_TYPE)" -Dlog4cxx_DIR="$(cache_value log4cxx_DIR)" &&
    cmake --build "$rpm_build" -j 2) > "$work/rpm-build.log" 2>&1 &
rpm_build_pid=$!

# --- Debian packages ----------------------------------------------------------
(cd "$build" && cpack -G DEB -B "$work/deb") > "$work/cpack-deb.log" 2>&1 ||
    { cat "$work/cpack-deb.log"; fail "cpack -G DEB"; }
version=$(dpkg-deb -f "$work"/deb/libquorvel1_*.deb Version)
deb_file() { echo "$work/deb/$1_${version}_$arch.deb"; }
for package in $debs; do
    [ -f "$(deb_file "$package")" ] || fail "no package $package"
done
# No errors and no warnings that the packages do not override with a reason.
# shellcheck disable=SC2046
lintian --fail-on error,warning $(for package in $debs; do deb_file "$package"; done) > "$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian"; }

# The packaged library is stripped, exports exactly what the built one does,
# and its debug information is in quorvel-dbg under its build ID.
dpkg-deb -x "$(deb_file libquorvel1)" "$work/libquorvel1"
dpkg-deb -x "$(deb_file quorvel-dbg)" "$work/dbg"
packaged=$work/libquorvel1$libdir/libquorvel.so.1
# Each symbol's type and versioned name; addresses differ between builds.
exported_symbols() {
    nm -D --defined-only "$1" | awk '{print $2, $3}' | sort
}
exported_symbols "$build/libquorvel.so.1" > "$work/built.symbols"
exported_symbols "$packaged" > "$work/packaged.symbols"
[ -s "$work/built.symbols" ] || fail "nm lists no symbols of the built library"
diff -u "$work/built.symbols" "$work/packaged.symbols" || fail "the packaged library's exported symbols"
readelf -S "$packaged" | grep -q '\.debug_info' && fail "the packaged library is not stripped"
build_id=$(readelf -n "$packaged" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
debug_file=$work/dbg/usr/lib/debug/.build-id/$(echo "$build_id" | cut -c1-2)/$(echo "$build_id" | cut -c3-).debug
[ -f "$debug_file" ] || fail "quorvel-dbg has no debug file for build ID $build_id"
readelf -S "$debug_file" | grep -q '\.debug_info' || fail "$debug_file holds no debug information"

# --- Installed into the throw-away root ---------------------------------------
# Only the packages' copy of quorvel is there: the machine's own copies are
# removed from the throw-away root first, packages of these names and a copy
# under /usr/local (the README's make install), whose headers, CMake package,
# quorvel.pc, library and manual pages the consumer's build, the linker and
# man would otherwise find first.
# shellcheck disable=SC2086
present=$(dpkg-query -W -f '${Package} ${Status}\n' $debs 2> /dev/null | awk '$NF != "not-installed" { print $1 }')
# shellcheck disable=SC2086
[ -z "$present" ] || dpkg --purge --force-depends $present > "$work/purge-present.log" 2>&1 ||
    { cat "$work/purge-present.log"; fail "removing the machine's own $present in the throw-away root"; }
find /usr/local -name '*quorvel*' -prune -exec rm -rf {} +
# What the packages install, and which of it the system has already.
for package in $debs; do
    dpkg-deb -c "$(deb_file "$package")" | awk '{ print $6 }' | sed -e 's|^\.||' -e 's|/$||' | grep .
done | sort -u > "$work/package-paths"
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done < "$work/package-paths" > "$work/present-before"
# shellcheck disable=SC2046
dpkg -i $(for package in $debs; do deb_file "$package"; done) > "$work/dpkg-i.log" 2>&1 ||
    { cat "$work/dpkg-i.log"; fail "dpkg -i"; }
# The linker's cache (which the ldconfig trigger made anew) lists the
# package's library, besides any other copy in a directory it covers.
cached_library_dirs() {
    ldconfig -p | sed -n 's|^[[:space:]]*libquorvel\.so\.1 (.*) => \(.*\)/libquorvel\.so\.1$|\1|p' | xargs -r readlink -f
}
cached_library_dirs | grep -q -x -F "$(readlink -f "$libdir")" ||
    fail "the dynamic linker's cache does not list $libdir/libquorvel.so.1 (ldconfig trigger)"
ldconfig -p | grep -q libhostparam && fail "the stand-in parameter service is in the linker's cache"

export VRQ_SERVER_CONFIGDIR="$source/examples"
config=$source/examples/log4cxx.properties
consumer_logged() {
    "$1" "$config" > "$work/consumer.out" 2>&1 || { cat "$work/consumer.out"; return 1; }
    grep -q 'audit.cef:CEF:0|Example|Consumer|1.0|100|Login|4|.* suser=alice msg=User alice logged in' "$work/consumer.out" &&
        grep -q 'audit.xdas: {.*"Initiator" : {"Account" : {"Name" : "alice"}},"Action" : {"Event" : {"Name" : "LOGIN"}' "$work/consumer.out" ||
        { cat "$work/consumer.out"; return 1; }
}
# With CMake, found in the system's directories without any hint.
cmake -S "$source/examples/consumer" -B "$work/consumer-cmake" > "$work/consumer-cmake.log" 2>&1 &&
    cmake --build "$work/consumer-cmake" >> "$work/consumer-cmake.log" 2>&1 ||
    { cat "$work/consumer-cmake.log"; fail "building the consumer with CMake against libquorvel-dev"; }
consumer_logged "$work/consumer-cmake/consumer" || fail "the CMake-built consumer"
# With pkg-config, without any flags or run path of its own.
[ "$(realpath "$(pkg-config --variable=libdir quorvel)")" = "$(realpath "$libdir")" ] ||
    fail "quorvel.pc's libdir is not $libdir"
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror "$source/examples/consumer/consumer.cpp" $(pkg-config --cflags --libs quorvel) \
    -o "$work/consumer-pc" || fail "building the consumer with pkg-config against libquorvel-dev"
consumer_logged "$work/consumer-pc" || fail "the pkg-config-built consumer"
# A program linking libquorvel depends on libquorvel1 through its symbols file:
# the consumer uses the 1.0 interface alone, so any release from 1.0.0 serves.
mkdir -p "$work/shlibdeps/debian" && touch "$work/shlibdeps/debian/control"
(cd "$work/shlibdeps" && dpkg-shlibdeps -O "$work/consumer-pc") > "$work/shlibdeps.out" 2> "$work/shlibdeps.err" ||
    { cat "$work/shlibdeps.err"; fail "dpkg-shlibdeps on the consumer"; }
grep -q "libquorvel1 (>= 1.0.0)" "$work/shlibdeps.out" && ! grep -q 'found in none of the libraries' "$work/shlibdeps.err" ||
    { cat "$work/shlibdeps.out" "$work/shlibdeps.err"; fail "the consumer's dependency on libquorvel1"; }

# The tools, and their manual pages: found by man, rendered without warnings,
# and naming every option that --help names.
/usr/bin/quorvel-catalog-check "$source/examples/OstradEventDesc.conf" > "$work/check.out" ||
    fail "installed quorvel-catalog-check"
/usr/bin/quorvel-emit cef --config "$config" --logger audit --set SignatureID=100 --set suser=bob \
    --set Severity=4 --print > "$work/emit.out" || fail "installed quorvel-emit"
grep -q '^CEF:0|||||*100||4|.*suser=bob msg=User bob logged in $' "$work/emit.out" || fail "installed quorvel-emit's line"
for tool in quorvel-catalog-check quorvel-emit; do
    [ "$(man -w "$tool")" = "/usr/share/man/man1/$tool.1.gz" ] || fail "man does not find $tool(1)"
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "/usr/share/man/man1/$tool.1.gz" \
        > "$work/$tool.man" 2> "$work/$tool.man-warnings" || fail "man -l $tool.1.gz"
    [ ! -s "$work/$tool.man-warnings" ] || { cat "$work/$tool.man-warnings"; fail "$tool(1) renders with warnings"; }
    for option in $("/usr/bin/$tool" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$option" "$work/$tool.man" || fail "$tool(1) does not describe $option"
    done
done

# A host with its own parameter service: without the stand-in libquorvel1
# stays installed, and the host's library (here the build's own) is the one
# loaded.
dpkg -r quorvel-hostparam-env > "$work/dpkg-r.log" 2>&1 || { cat "$work/dpkg-r.log"; fail "removing the stand-in alone"; }
"$work/consumer-pc" "$config" > /dev/null 2>&1 && fail "the consumer ran without any parameter service"
(export LD_LIBRARY_PATH="$build/hostparam" && consumer_logged "$work/consumer-pc") ||
    fail "the consumer with the host's own parameter service"

# Removed, nothing is left: no file or directory that was not there before,
# no cache entry.
# shellcheck disable=SC2086
dpkg --purge $debs > "$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
while read -r path; do
    if { [ -e "$path" ] || [ -L "$path" ]; } && ! grep -q -x -F "$path" "$work/present-before"; then
        fail "$path is left after removing the packages"
    fi
done < "$work/package-paths"
cached_library_dirs | grep -q -x -F "$(readlink -f "$libdir")" && fail "$libdir/libquorvel.so.1 is still in the linker's cache"

# --- RPM packages -------------------------------------------------------------
wait "$rpm_build_pid" || { cat "$work/rpm-build.log"; fail "building the RPM build tree"; }
rpm_build_pid=""
(cd "$rpm_build" && cpack -G RPM -B "$work/rpm") > "$work/cpack-rpm.log" 2>&1 ||
    { cat "$work/cpack-rpm.log"; fail "cpack -G RPM"; }
rpm_file() { echo "$work/rpm/$1-$version.$rpm_arch.rpm"; }
# Signed with a key of this run only, which a database of this run trusts,
# as a repository signs with its own.
export GNUPGHOME="$work/gnupg"
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'quorvel package test <quorvel-maintainers@lists.quorvel.org>' \
    ed25519 sign never 2> "$work/gpg.log" || { cat "$work/gpg.log"; fail "gpg --quick-gen-key"; }
gpg --armor --export > "$work/key.asc"
printf '%%_dbpath %s\n%%_gpg_name quorvel package test\n%%__gpg %s\n' "$work/rpmdb" "$(command -v gpg)" > "$HOME/.rpmmacros"
rpm --initdb && rpm --import "$work/key.asc" || fail "importing the signing key into $work/rpmdb"
rpmsign --addsign "$work"/rpm/*.rpm > "$work/rpmsign.log" 2>&1 || { cat "$work/rpmsign.log"; fail "rpmsign"; }
rpmlint "$work"/rpm/*.rpm > "$work/rpmlint.log" 2>&1 || true
grep -q ' 0 errors,' "$work/rpmlint.log" || { cat "$work/rpmlint.log"; fail "rpmlint"; }

# Each RPM package holds the files of its Debian counterpart (the library
# directory lib64 for the multiarch one, licences for Debian's documentation
# and lintian's overrides), and requires the same libraries by SONAME and the
# same sibling packages at the same version.
deb_files() {
    dpkg-deb -c "$(deb_file "$1")" | awk '$1 !~ /^d/ { print $6 }' | sed -e 's|^\.||' -e "s|^$libdir|/usr/lib64|" |
        grep -v -e '^/usr/share/doc/' -e '^/usr/share/lintian/' | sort
}
rpm_files() {
    rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$(rpm_file "$1")" | awk '$1 !~ /^d/ { print $2 }' |
        grep -v '^/usr/share/licenses/' | sort
}
needed_sonames() {
    find "$1" -type f -exec sh -c 'readelf -d "$1" 2> /dev/null' sh {} \; |
        sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u
}
for pair in libquorvel1:quorvel libquorvel-dev:quorvel-devel quorvel-tools:quorvel-tools \
    quorvel-hostparam-env:quorvel-hostparam; do
    deb=${pair%%:*}
    rpm=${pair#*:}
    deb_files "$deb" > "$work/$deb.files"
    rpm_files "$rpm" > "$work/$rpm.files"
    [ -s "$work/$deb.files" ] || fail "$deb holds no files"
    diff -u "$work/$deb.files" "$work/$rpm.files" || fail "$rpm does not hold what $deb holds"

    rm -rf "$work/unpacked" && dpkg-deb -x "$(deb_file "$deb")" "$work/unpacked"
    needed_sonames "$work/unpacked" > "$work/$deb.needed"
    rpm -qpR "$(rpm_file "$rpm")" | sed -n 's/^\([^ (]*\.so[.0-9]*\)()(64bit)$/\1/p' | sort -u > "$work/$rpm.needed"
    diff -u "$work/$deb.needed" "$work/$rpm.needed" || fail "$rpm does not require the libraries $deb needs"

    dpkg-deb -f "$(deb_file "$deb")" Depends | tr ',' '\n' | sed -n "s/^ *\([a-z0-9.+-]*\) (= $version)\$/\1/p" |
        sed -e 's/^libquorvel1$/quorvel/' | sort > "$work/$deb.siblings"
    rpm -qpR "$(rpm_file "$rpm")" | sed -n "s/^\([a-z0-9.+-]*\)\(([a-z0-9_-]*)\)\{0,1\} = $version\$/\1/p" |
        sort > "$work/$rpm.siblings"
    diff -u "$work/$deb.siblings" "$work/$rpm.siblings" || fail "$rpm does not require the packages $deb depends on"
done
mkdir "$work/quorvel-rpm"
rpm2cpio "$(rpm_file quorvel)" | (cd "$work/quorvel-rpm" && cpio -idm --quiet) || fail "unpacking $(rpm_file quorvel)"
exported_symbols "$work/quorvel-rpm/usr/lib64/libquorvel.so.1" > "$work/rpm.symbols"
diff -u "$work/built.symbols" "$work/rpm.symbols" || fail "the RPM package's library exports other symbols"
echo "PASS: $(echo "$debs" | wc -w) Debian and $(ls "$work"/rpm/*.rpm | wc -l) RPM packages"
