# The package is pure Python. A wheel that bundles liblumavex_core and the simulated tracker (the
# CMake target lumavex_python_wheel) holds machine code for one platform, and is tagged so.
import os

from setuptools import setup

BUNDLED = os.path.isdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), "lumavex", "lib"))
commands = {}
try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = not BUNDLED

        def get_tag(self):
            python, abi, platform = super().get_tag()
            return ("py3", "none", platform) if BUNDLED else (python, abi, platform)

    commands["bdist_wheel"] = PlatformWheel
except ImportError:
    pass

setup(cmdclass=commands)
