# The package is pure Python; a wheel that bundles liblumavex_core (the CMake target
# lumavex_python_wheel) holds machine code, so it is tagged for this platform.
import os

from setuptools import setup
from setuptools.dist import Distribution

BUNDLED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lumavex", "lib")


class _Distribution(Distribution):
    def has_ext_modules(self):
        return os.path.isdir(BUNDLED)


setup(distclass=_Distribution)
