"""The ctypes mirror of the C interface: records byte for byte, every export bound."""
import ctypes
import os
import runpy
import shutil
import subprocess

import pytest

from lumavex import _bindings, raw
from conftest import SOURCE_DIR

HEADER = os.path.join(SOURCE_DIR, "include", "lumavex_core.h")


def fields_of(record, prefix=""):
    """(C member path, offset, size) of every field, nested records entered."""
    for name, ctype in record._fields_:
        offset = getattr(record, name).offset
        if ctype.__name__ == "%s_%s" % (record.__name__, name):  # an anonymous nested record
            for path, sub_offset, size in fields_of(ctype, prefix + name + "."):
                yield path, offset + sub_offset, size
        else:
            yield prefix + name, offset, ctypes.sizeof(ctype)


def test_records_match_the_compiler(tmp_path):
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        pytest.skip("no C compiler")
    nested = {
        t.__name__
        for n in _bindings.RECORDS
        for f, t in getattr(_bindings, n)._fields_
        if t.__name__ == "%s_%s" % (n, f)
    }
    top = [n for n in _bindings.RECORDS if n not in nested]
    lines = ["#include <stddef.h>", "#include <stdio.h>", '#include "lumavex_core.h"', "int main(void) {"]
    expected = []
    for name in top:
        record = getattr(_bindings, name)
        lines.append('  printf("%s - 0 %%zu\\n", sizeof(%s));' % (name, name))
        expected.append("%s - 0 %d" % (name, ctypes.sizeof(record)))
        for path, offset, size in fields_of(record):
            lines.append(
                '  printf("%s %s %%zu %%zu\\n", offsetof(%s, %s), sizeof(((%s *)0)->%s));'
                % (name, path, name, path, name, path)
            )
            expected.append("%s %s %d %d" % (name, path, offset, size))
    lines += ["  return 0;", "}"]
    source = tmp_path / "layout.c"
    source.write_text("\n".join(lines) + "\n")
    program = tmp_path / "layout"
    subprocess.run(
        [cc, "-std=c11", "-I", os.path.dirname(HEADER), "-o", str(program), str(source)], check=True
    )
    printed = subprocess.run([str(program)], capture_output=True, text=True, check=True).stdout
    assert printed.splitlines() == expected
    # The records a lab reads most, at the sizes the header documents.
    assert ctypes.sizeof(raw.float_sample) == 228 and ctypes.sizeof(raw.float_data) == 268
    assert ctypes.sizeof(raw.double_data) == 272 and ctypes.sizeof(raw.link_state) == 740


def test_generated_bindings_follow_the_header():
    generator = runpy.run_path(os.path.join(SOURCE_DIR, "python", "tools", "gen_bindings.py"))
    fresh = generator["render"](HEADER)
    with open(os.path.join(SOURCE_DIR, "python", "lumavex", "_bindings.py"), encoding="utf-8") as f:
        committed = f.read()
    assert fresh == committed, (
        "lumavex/_bindings.py is older than include/lumavex_core.h: run "
        "/usr/bin/python3 python/tools/gen_bindings.py"
    )


def test_every_declared_function_is_exported_and_bound():
    assert raw.MISSING == []
    assert len(raw.PROTOTYPES) > 190
    # Bound with the header's types: texts come back as bytes, 16-bit results with their sign.
    assert raw.lumavex_get_error(-201, b"lumavex_open") == b"Connection Timed Out"
    assert raw.lumavex_timed_command(10, b"x") == raw.LINK_TERMINATED_RESULT
