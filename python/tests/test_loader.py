"""Finding the library: a clear ImportError when it is not there."""
import os
import subprocess
import sys

import pytest

from lumavex import _library


def test_a_wrong_library_setting_fails_the_import_and_says_what_to_set(tmp_path):
    env = dict(os.environ, LUMAVEX_CORE_LIBRARY=str(tmp_path / "liblumavex_core.so"))
    out = subprocess.run(
        [sys.executable, "-c", "import lumavex"], env=env, capture_output=True, text=True, timeout=30
    )
    assert out.returncode != 0
    assert "ImportError" in out.stderr and str(tmp_path) in out.stderr
    assert "LUMAVEX_CORE_LIBRARY" in out.stderr


def test_without_a_library_anywhere_the_error_lists_where_it_looked(tmp_path):
    with pytest.raises(ImportError) as e:
        _library.load(environ={}, prefixes=(str(tmp_path),), use_ldconfig=False, bundled=str(tmp_path / "lib"))
    text = str(e.value)
    assert str(tmp_path) in text and str(tmp_path / "lib") in text and "LUMAVEX_CORE_LIBRARY" in text
