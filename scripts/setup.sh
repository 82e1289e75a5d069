#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine. Safe to run again.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
command -v clang-format >/dev/null || need+=(clang-format)
command -v pkg-config >/dev/null || need+=(pkg-config)
command -v doxygen >/dev/null || need+=(doxygen)
# The Debian package: dpkg-shlibdeps (dpkg-dev) works out its dependencies, with file(1).
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v file >/dev/null || need+=(file)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/png.h ] || need+=(libpng-dev)
# The Python package and its tests: Debian's interpreter with venv, pip, setuptools, wheel,
# pytest, NumPy and matplotlib.
[ -x /usr/bin/python3 ] || need+=(python3)
for module_package in ensurepip:python3-venv pip:python3-pip setuptools:python3-setuptools \
  wheel:python3-wheel pytest:python3-pytest numpy:python3-numpy matplotlib:python3-matplotlib; do
  /usr/bin/python3 -c "import ${module_package%%:*}" 2>/dev/null || need+=("${module_package#*:}")
done
# The live window (lumavex_sdl, lumavex_live): SDL2 with SDL_ttf and a font; its tests run it
# under a virtual X server, take screenshots with xwd, turn them into PPM with ImageMagick and
# check them with Debian's python3; its benchmark reads the screen back through Xlib.
[ -f /usr/include/SDL2/SDL.h ] || need+=(libsdl2-dev)
[ -f /usr/include/SDL2/SDL_ttf.h ] || need+=(libsdl2-ttf-dev)
[ -f /usr/include/X11/Xlib.h ] || need+=(libx11-dev)
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || need+=(fonts-dejavu-core)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xwd >/dev/null || need+=(x11-apps)
command -v convert >/dev/null || need+=(imagemagick)
if command -v clang++ >/dev/null; then
  # libFuzzer and the sanitizer runtimes for clang.
  rt=$(clang++ -print-runtime-dir 2>/dev/null || true)
  ls "$rt"/libclang_rt.fuzzer*.a >/dev/null 2>&1 || need+=("libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev")
fi

if [ ${#need[@]} -gt 0 ]; then
  # Only installing packages needs root; building and testing never do.
  if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    SUDO="sudo"
  else
    echo "setup: missing packages: ${need[*]}" >&2
    echo "setup: installing them needs root; run once as root:" >&2
    echo "         apt-get update && apt-get install -y ${need[*]}" >&2
    echo "setup: then run this command again as any user." >&2
    exit 1
  fi
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${need[@]}"
fi
