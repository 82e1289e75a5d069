"""Finds and loads liblumavex_core.so.

Where it looks, in order: the file named by the environment variable LUMAVEX_CORE_LIBRARY (and
nowhere else when it is set, so that a wrong setting is never hidden by another copy); the
library as `cmake --install` or the Debian package puts it (the usual prefixes, then the linker's
cache through `ldconfig -p`); a copy bundled beside this package by the wheel build.
"""
import ctypes
import os
import subprocess
import sys

ENV_VAR = "LUMAVEX_CORE_LIBRARY"
NAMES = ("liblumavex_core.so.0", "liblumavex_core.so")
PREFIXES = (
    "/usr/local/lib",
    "/usr/local/lib64",
    "/usr/local/lib/x86_64-linux-gnu",
    "/usr/local/lib/aarch64-linux-gnu",
    "/usr/lib/x86_64-linux-gnu",
    "/usr/lib/aarch64-linux-gnu",
    "/usr/lib64",
    "/usr/lib",
    os.path.join(sys.prefix, "lib"),
)
BUNDLED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib")


def _ldconfig_paths():
    for ldconfig in ("/sbin/ldconfig", "/usr/sbin/ldconfig", "ldconfig"):
        try:
            out = subprocess.run(
                [ldconfig, "-p"], capture_output=True, text=True, timeout=5, check=False
            ).stdout
        except (OSError, subprocess.SubprocessError):
            continue
        found = []
        for line in out.splitlines():
            name, _, path = line.strip().partition(" => ")
            if name.split(" ")[0] in NAMES and path:
                found.append(path.strip())
        return found
    return []


def candidates(environ=None, prefixes=PREFIXES, use_ldconfig=True, bundled=BUNDLED):
    """(paths to try in order, where-it-looked descriptions) for the given surroundings."""
    environ = os.environ if environ is None else environ
    explicit = environ.get(ENV_VAR)
    if explicit:
        return [explicit], ["%s=%s" % (ENV_VAR, explicit)]
    paths = [os.path.join(p, n) for p in prefixes for n in NAMES]
    looked = ["the installed library in %s" % ", ".join(prefixes)]
    if use_ldconfig:
        paths += _ldconfig_paths()
        looked.append("the linker cache (ldconfig -p)")
    if bundled:
        paths += [os.path.join(bundled, n) for n in NAMES]
        looked.append("the copy bundled with the package in %s" % bundled)
    return paths, looked


def load(environ=None, prefixes=PREFIXES, use_ldconfig=True, bundled=BUNDLED):
    """The loaded library (a ctypes.CDLL) and its path; ImportError when there is none."""
    paths, looked = candidates(environ, prefixes, use_ldconfig, bundled)
    errors = []
    for path in paths:
        if not os.path.exists(path):
            continue
        try:
            return ctypes.CDLL(path), os.path.realpath(path)
        except OSError as e:
            errors.append("%s: %s" % (path, e))
    explicit = (os.environ if environ is None else environ).get(ENV_VAR)
    if explicit and not errors:
        errors.append("%s: no such file" % explicit)
    raise ImportError(
        "lumavex: cannot load liblumavex_core.so. Looked at: %s.%s Set %s to the path of "
        "liblumavex_core.so (for a build tree, BUILD/src/liblumavex_core.so), or install the "
        "library (cmake --install, or the lumavex-core Debian package)."
        % ("; ".join(looked), (" " + "; ".join(errors) + ".") if errors else "", ENV_VAR)
    )
