#!/usr/bin/env bash
# Builds and runs every test: the formatting check; the release build of the whole tree with the
# default options and warnings as errors, and its tests (the live window's among them, label
# window, each under a virtual X server it starts itself); the Python package installed into a
# fresh environment and its tests against that build; the same tests in a debug build under
# AddressSanitizer and UndefinedBehaviorSanitizer; the threaded and hostile-network tests under
# ThreadSanitizer; the fuzz targets for a short fixed time; then the release build's API
# reference, its installation (with a small consumer built against the installed package and
# run as an ordinary user) and its Debian package. (The sanitizer build is the debug build: one
# build fewer keeps the whole run within its time on a two-core machine.)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

# Each stage's heading shows the seconds the script has run so far.
step() { printf '\n==== %s (at %d s)\n' "$*" "$SECONDS"; }

step "format check"
files=$(git ls-files '*.h' '*.cpp' '*.c' 2>/dev/null || find include src sim tests bench fuzz examples -name '*.[ch]*')
clang-format --dry-run --Werror $files

step "build: release, the whole tree with the default options, warnings as errors"
cmake -S . -B build/release-all -DCMAKE_BUILD_TYPE=Release -DLVX_WERROR=ON >/dev/null
cmake --build build/release-all -j"$jobs"
step "tests: release"
ctest --test-dir build/release-all -j"$jobs" --output-on-failure --timeout 120

step "tests: the Python package, installed offline into a fresh environment"
python/run_tests.sh build/release-all

step "build: address and undefined-behaviour sanitizers"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DLVX_WERROR=ON -DLVX_SANITIZE=address \
  -DLVX_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
step "tests: address and undefined-behaviour sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 180

step "build: thread sanitizer"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DLVX_WERROR=ON -DLVX_SANITIZE=thread \
  -DLVX_BUILD_BENCH=OFF >/dev/null
cmake --build build/tsan -j"$jobs"
step "tests: thread sanitizer (threaded and hostile-network tests)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan -L "threaded|hostile" -j"$jobs" --output-on-failure --timeout 180

if [ -d fuzz ] && ls fuzz/*.cpp >/dev/null 2>&1; then
  step "fuzz targets (short runs)"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DLVX_WERROR=ON \
    -DLVX_BUILD_FUZZ=ON -DLVX_BUILD_TESTS=OFF -DLVX_BUILD_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j"$jobs"
  ctest --test-dir build/fuzz -L fuzz --output-on-failure
fi

step "API reference: doxygen over the public header, no warnings"
cmake --build build/release-all --target lumavex_docs

step "installed: a consumer built with find_package and with pkg-config, run as an ordinary user"
# The tree is installed into a temporary prefix; the consumer is built and run there against the
# installed simulated tracker by an unprivileged user (nobody, when this script runs as root).
work=$(mktemp -d /tmp/lvx_install.XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install build/release-all --prefix "$work/prefix" >/dev/null
cp -r tests/consumer "$work/consumer"
cp tests/start_tracker.sh "$work/"  # the consumer's run script starts the tracker through it
mkdir "$work/home"
chmod 755 "$work"
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$work/consumer" "$work/home"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work/home")
else
  as_user=(env HOME="$work/home")
fi
"${as_user[@]}" "$work/consumer/build_installed.sh" "$work/prefix" "$work/home/build"
# Added with add_subdirectory, the tree brings the library alone: it configures with GoogleTest
# and Google Benchmark out of reach, and without test or benchmark targets.
cmake -S tests/consumer -B "$work/subdirectory" --no-warn-unused-cli -DLUMAVEX_SOURCE_DIR="$PWD" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
if cmake --build "$work/subdirectory" --target help | grep -E 'lvx_(unit|sim)_tests|bench_'; then
  echo "add_subdirectory brought tests or benchmarks" >&2
  exit 1
fi

step "package: cpack -G DEB"
(cd build/release-all && cpack -G DEB >/dev/null)
deb=$(ls build/release-all/lumavex-core_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in lib/liblumavex_core.so.0 include/lumavex_core.h lib/cmake/lumavex_core/lumavex_coreConfig.cmake \
  lib/pkgconfig/lumavex_core.pc bin/lumavex_sim_tracker share/man/man1/lumavex_sim_tracker.1; do
  grep -q "/usr/$f" <<<"$contents" || { echo "$deb lacks /usr/$f" >&2; exit 1; }
done
echo "$deb: $(dpkg-deb -f "$deb" Package Version Depends | tr '\n' ' ')"

step "all test stages passed"
