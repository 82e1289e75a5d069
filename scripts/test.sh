#!/usr/bin/env bash
# Builds and runs every test: the formatting check; the release build of the whole tree with the
# default options and warnings as errors, and its tests (the live window's among them, label
# window, each under a virtual X server it starts itself); the Python package installed into a
# fresh environment and its tests against that build; the same tests in a debug build under
# AddressSanitizer and UndefinedBehaviorSanitizer; the threaded and hostile-network tests under
# ThreadSanitizer; the fuzz targets for a short fixed time, in a build configured with every
# optional package hidden, from which the demo runs too; then the release build's API
# reference, its installation (with a small consumer built against the installed package and
# run as an ordinary user, who runs the demo as well) and its Debian package.
# To keep the whole run within its time on a two-core machine, the sanitizer build is the debug
# build, and every build here compiles its files in batches (a unity build: the developer's own
# builds compile file by file and catch what a batch would hide).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
unity=(-DCMAKE_UNITY_BUILD=ON)
# Line tables are all a sanitizer's report needs, and they build faster than full debug data.
debug=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1)

# Each stage's heading shows the seconds the script has run so far.
step() { printf '\n==== %s (at %d s)\n' "$*" "$SECONDS"; }

# Runs the demo (the command given) in its own new folder, which it names and which is listed in
# demo_folders; fails on a non-zero exit or on anything on standard error.
demo_folders=()
run_demo() {
  local out err
  out=$(mktemp) err=$(mktemp)
  if ! "$@" >"$out" 2>"$err" || [ -s "$err" ]; then
    cat "$out" "$err" >&2
    echo "the demo failed or printed errors (above)" >&2
    exit 1
  fi
  demo_folders+=("$(sed -n 's/^Output folder: //p' "$out")")
  echo "demo: $(wc -l <"$out") lines, nothing on standard error; its folder ${demo_folders[-1]}"
  rm -f "$out" "$err"
}

step "format check"
files=$(git ls-files '*.h' '*.cpp' '*.c' 2>/dev/null || find include src sim tests bench fuzz examples -name '*.[ch]*')
clang-format --dry-run --Werror $files

step "build: release, the whole tree with the default options, warnings as errors"
cmake -S . -B build/release-all -DCMAKE_BUILD_TYPE=Release -DLVX_WERROR=ON \
  -DLVX_REQUIRE_EXTRAS=ON "${unity[@]}" >/dev/null
cmake --build build/release-all -j"$jobs"
step "tests: release"
ctest --test-dir build/release-all -j"$jobs" --output-on-failure --timeout 120

step "tests: the Python package, installed offline into a fresh environment"
python/run_tests.sh build/release-all

step "build: address and undefined-behaviour sanitizers"
cmake -S . -B build/asan "${debug[@]}" "${unity[@]}" -DLVX_WERROR=ON -DLVX_SANITIZE=address \
  -DLVX_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
step "tests: address and undefined-behaviour sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 180

step "build: thread sanitizer"
# Only the threaded and hostile-network tests run here, and only their programs are built.
cmake -S . -B build/tsan "${debug[@]}" "${unity[@]}" -DLVX_WERROR=ON -DLVX_SANITIZE=thread \
  -DLVX_BUILD_BENCH=OFF -DLVX_BUILD_SDL=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target lvx_threaded_tests
step "tests: thread sanitizer (threaded and hostile-network tests)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan -L "threaded|hostile" -j"$jobs" --output-on-failure --timeout 180

if [ -d fuzz ] && ls fuzz/*.cpp >/dev/null 2>&1; then
  step "fuzz targets (short runs); the demo from this build, every optional package hidden"
  # No GoogleTest, Google Benchmark, SDL2, doxygen or libpng: the library, the simulated tracker
  # and the demo still build, and the configure says what is off.
  CC=clang CXX=clang++ cmake -S . -B build/fuzz --no-warn-unused-cli "${debug[@]}" "${unity[@]}" \
    -DLVX_WERROR=ON -DLVX_BUILD_FUZZ=ON -DLVX_FUZZ_SECONDS=6 -DLVX_BUILD_TESTS=OFF \
    -DLVX_BUILD_BENCH=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_SDL2=ON -DCMAKE_DISABLE_FIND_PACKAGE_SDL2_ttf=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_Doxygen=ON -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON |
    grep 'extras off'
  cmake --build build/fuzz -j"$jobs"
  ctest --test-dir build/fuzz -L fuzz -j"$jobs" --output-on-failure
  run_demo build/fuzz/examples/lumavex_demo --trial-seconds 1
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
# The demo as that user too, after the fuzz stage's run by this one: each gets a folder of its
# own (nobody's in the shared temporary directory; this user's own runtime folder otherwise).
cp build/release-all/examples/lumavex_demo "$work/"
if [ "$(id -u)" -eq 0 ]; then
  demo_env=(env -u XDG_RUNTIME_DIR)
else
  mkdir -m 700 "$work/home/run"
  demo_env=(env XDG_RUNTIME_DIR="$work/home/run")
fi
run_demo "${as_user[@]}" "${demo_env[@]}" LD_LIBRARY_PATH="$work/prefix/lib" \
  "$work/lumavex_demo" --trial-seconds 1
rm -rf "${demo_folders[@]}"
# Added with add_subdirectory, the tree brings the library alone: it configures with GoogleTest,
# Google Benchmark and libpng out of reach, and without test or benchmark targets.
cmake -S tests/consumer -B "$work/subdirectory" --no-warn-unused-cli -DLUMAVEX_SOURCE_DIR="$PWD" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON >/dev/null
if cmake --build "$work/subdirectory" --target help | grep -E 'lvx_(unit|sim)_tests|bench_'; then
  echo "add_subdirectory brought tests or benchmarks" >&2
  exit 1
fi

step "package: cpack -G DEB"
(cd build/release-all && cpack -G DEB >/dev/null)
deb=$(ls build/release-all/lumavex-core_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in lib/liblumavex_core.so.0 include/lumavex_core.h lib/cmake/lumavex_core/lumavex_coreConfig.cmake \
  lib/pkgconfig/lumavex_core.pc bin/lumavex_sim_tracker share/man/man1/lumavex_sim_tracker.1 \
  share/doc/lumavex_core/html/index.html; do
  grep -q "/usr/$f" <<<"$contents" || { echo "$deb lacks /usr/$f" >&2; exit 1; }
done
echo "$deb: $(dpkg-deb -f "$deb" Package Version Depends | tr '\n' ' ')"

step "all test stages passed"
