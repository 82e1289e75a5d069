"""Every exported function of liblumavex_core, as the C header declares it.

    from lumavex import raw
    raw.lumavex_timed_command(1000, b"sample_rate 1000")

Each function has its argtypes and restype set from the header, so ctypes converts and checks the
arguments: texts are bytes, records are the ctypes Structures below (passed by pointer where the
function takes a pointer), output buffers are ctypes.create_string_buffer(n) or record instances.
The header's constants and records are here too, under their C names. Calls release the GIL.

LIBRARY is the ctypes.CDLL, LIBRARY_PATH its file; MISSING lists functions the header declares but
the loaded library lacks (a library older than this package).
"""
from . import _library
from ._bindings import *  # noqa: F401,F403  constants, records, function-pointer types
from ._bindings import PROTOTYPES, RECORDS  # noqa: F401

LIBRARY, LIBRARY_PATH = _library.load()

MISSING = []


def _bind():
    names = globals()
    for name, (restype, argtypes, _variadic) in PROTOTYPES.items():
        try:
            f = getattr(LIBRARY, name)
        except AttributeError:
            MISSING.append(name)
            continue
        f.restype = restype
        # Variadic functions take their fixed arguments checked and the rest as given.
        f.argtypes = argtypes
        names[name] = f


_bind()
