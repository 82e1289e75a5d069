#!/usr/bin/env python3
"""Writes lumavex/_bindings.py from include/lumavex_core.h.

The header is the one description of the library's interface; this script turns it into ctypes:
its integer and text constants, every record (struct and union) as a ctypes Structure or Union,
every function-pointer type as a CFUNCTYPE, and the prototype (result type, argument types,
whether it takes more arguments after those) of every exported function. The package builds
lumavex.raw and its own records from that file, and a test regenerates it in memory and fails
when the committed copy differs: after the header changes, run

    /usr/bin/python3 python/tools/gen_bindings.py

from the top of the source tree (or give the header and the output file as arguments).
"""
import ast
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_HEADER = os.path.normpath(os.path.join(HERE, "..", "..", "include", "lumavex_core.h"))
DEFAULT_OUTPUT = os.path.normpath(os.path.join(HERE, "..", "lumavex", "_bindings.py"))

SCALARS = {
    "int8_t": "_c.c_int8",
    "uint8_t": "_c.c_uint8",
    "int16_t": "_c.c_int16",
    "uint16_t": "_c.c_uint16",
    "int32_t": "_c.c_int32",
    "uint32_t": "_c.c_uint32",
    "int64_t": "_c.c_int64",
    "uint64_t": "_c.c_uint64",
    "char": "_c.c_char",
    "signed char": "_c.c_byte",
    "unsigned char": "_c.c_ubyte",
    "short": "_c.c_short",
    "unsigned short": "_c.c_ushort",
    "int": "_c.c_int",
    "unsigned": "_c.c_uint",
    "unsigned int": "_c.c_uint",
    "long": "_c.c_long",
    "unsigned long": "_c.c_ulong",
    "long long": "_c.c_longlong",
    "unsigned long long": "_c.c_ulonglong",
    "size_t": "_c.c_size_t",
    "float": "_c.c_float",
    "double": "_c.c_double",
    "void": "None",
}

# Words that decorate declarations without changing their types.
IGNORED = {"LVX_API", "LVX_NOEXCEPT", "extern", "static", "inline"}
MODIFIERS = ("unsigned", "signed", "short", "long")


class HeaderError(Exception):
    pass


# ---- Reading the text -----------------------------------------------------------------------


def strip_comments(text):
    out = []
    i = 0
    n = len(text)
    while i < n:
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            if j < 0:
                raise HeaderError("unterminated comment")
            out.append(" " + "\n" * text.count("\n", i, j))
            i = j + 2
        elif text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text[i] == '"':
            j = i + 1
            while j < n and text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            out.append(text[i : j + 1])
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def split_preprocessor(text):
    """The #define lines (name, body) and the code outside C++-only blocks."""
    lines = text.replace("\\\n", " ").split("\n")
    defines = []
    code = []
    # One entry per open conditional: whether its current branch is C++ only.
    stack = []
    for line in lines:
        s = line.strip()
        if s.startswith("#"):
            d = s[1:].strip()
            if d.startswith("ifdef __cplusplus"):
                stack.append(True)
            elif d.startswith("if"):
                stack.append(False)
            elif d.startswith("else"):
                if stack and stack[-1]:
                    stack[-1] = "else"
            elif d.startswith("endif"):
                if stack:
                    stack.pop()
            elif d.startswith("define") and not any(x is True for x in stack):
                m = re.match(r"define\s+([A-Za-z_]\w*)(\(?)\s*(.*)$", d)
                if m and not m.group(2):
                    defines.append((m.group(1), m.group(3).strip()))
            continue
        if not any(x is True for x in stack):
            code.append(line)
    return defines, "\n".join(code)


TOKEN = re.compile(r'\s*(\.\.\.|[A-Za-z_]\w*|0[xX][0-9a-fA-F]+|\d+|"(?:\\.|[^"])*"|\S)')


def tokenize(code):
    tokens = []
    pos = 0
    code = code.rstrip()
    while pos < len(code):
        m = TOKEN.match(code, pos)
        if not m:
            break
        tokens.append(m.group(1))
        pos = m.end()
    return tokens


# ---- Constants ------------------------------------------------------------------------------


def evaluate(expr, known):
    expr = re.sub(r"\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b", r"\1", expr)
    try:
        tree = ast.parse(expr, mode="eval")
    except SyntaxError:
        return None

    def ev(node):
        if isinstance(node, ast.Expression):
            return ev(node.body)
        if isinstance(node, ast.Constant) and isinstance(node.value, (int, str)):
            return node.value
        if isinstance(node, ast.Name) and node.id in known:
            return known[node.id]
        if isinstance(node, ast.UnaryOp) and isinstance(node.op, (ast.USub, ast.Invert, ast.UAdd)):
            v = ev(node.operand)
            return {ast.USub: lambda: -v, ast.Invert: lambda: ~v, ast.UAdd: lambda: v}[
                type(node.op)
            ]()
        if isinstance(node, ast.BinOp):
            ops = {
                ast.BitOr: lambda a, b: a | b,
                ast.BitAnd: lambda a, b: a & b,
                ast.LShift: lambda a, b: a << b,
                ast.RShift: lambda a, b: a >> b,
                ast.Add: lambda a, b: a + b,
                ast.Sub: lambda a, b: a - b,
                ast.Mult: lambda a, b: a * b,
            }
            if type(node.op) in ops:
                return ops[type(node.op)](ev(node.left), ev(node.right))
        raise ValueError(expr)

    try:
        value = ev(tree)
    except (ValueError, TypeError, KeyError):
        return None
    return value if isinstance(value, (int, str)) else None


def constants(defines):
    known = {}
    for name, body in defines:
        if not body or name.startswith("LUMAVEX_CORE_H"):
            continue
        v = evaluate(body, known)
        if v is not None:
            known[name] = v
    return known


# ---- Declarations ---------------------------------------------------------------------------


class Parser:
    def __init__(self, tokens):
        self.t = tokens
        self.i = 0
        self.records = []  # (name, kind, fields), nested records first
        self.record_names = set()
        self.callbacks = []  # (name, restype, argtypes)
        self.callback_names = set()
        self.functions = []  # (name, restype, argtypes, variadic)

    # Token helpers.
    def peek(self, k=0):
        j = self.i + k
        return self.t[j] if j < len(self.t) else None

    def take(self, expected=None):
        tok = self.peek()
        if tok is None or (expected is not None and tok != expected):
            raise HeaderError("expected %r near %r" % (expected, " ".join(self.t[self.i : self.i + 12])))
        self.i += 1
        return tok

    def skip_attribute(self):
        # LVX_PRINTF(fmt, args) and the like: a name followed by a parenthesised list.
        self.take()
        if self.peek() == "(":
            depth = 0
            while True:
                tok = self.take()
                depth += tok == "("
                depth -= tok == ")"
                if depth == 0:
                    break

    def run(self):
        while self.peek() is not None:
            tok = self.peek()
            if tok == "extern" and self.peek(1) is not None and self.peek(1).startswith('"'):
                self.i += 2
                if self.peek() == "{":
                    self.i += 1
            elif tok == "}":
                self.i += 1  # the end of an extern "C" block
            elif tok == ";":
                self.i += 1
            elif tok == "typedef":
                self.typedef()
            elif tok == "struct" and self.peek(2) == "{":
                self.i += 1
                name = self.take()
                self.record(name, "struct")
                self.take(";")
            else:
                self.function()
        return self

    # A type: qualifiers and a base name; returns the base name (or "struct X").
    def base_type(self):
        words = []
        while True:
            tok = self.peek()
            if tok in ("const", "volatile") or tok in IGNORED:
                self.i += 1
            elif tok in ("struct", "union", "enum"):
                self.i += 1
                words = [self.take()]
                break
            elif tok in MODIFIERS:
                words.append(self.take())
            elif tok is not None and re.match(r"[A-Za-z_]\w*$", tok) and (
                not words or tok in ("int", "char", "double")
            ):
                words.append(self.take())
                break
            else:
                break
        if not words:
            raise HeaderError("no type near %r" % " ".join(self.t[self.i : self.i + 8]))
        return " ".join(words)

    def pointers(self):
        n = 0
        while self.peek() in ("*", "const"):
            n += self.take() == "*"
        return n

    def ctype(self, base, stars, const=False):
        """The ctypes expression for base with stars levels of pointer. A pointer to a type the
        header never defines (an opaque handle) is a void pointer."""
        if stars == 0:
            if base in SCALARS:
                return SCALARS[base]
            if base in self.record_names or base in self.callback_names:
                return base
            raise HeaderError("unknown type %s" % base)
        known = base in SCALARS or base in self.record_names or base in self.callback_names
        if base == "char":
            inner = "_c.c_char_p" if const else "_c.POINTER(_c.c_char)"
            stars -= 1
        elif base == "void" or not known:
            inner = "_c.c_void_p"
            stars -= 1
        else:
            inner = self.ctype(base, 0)
        for _ in range(stars):
            inner = "_c.POINTER(%s)" % inner
        return inner

    def parameters(self):
        """A parenthesised parameter list: ([ctypes], variadic)."""
        self.take("(")
        args = []
        variadic = False
        if self.peek() == "void" and self.peek(1) == ")":
            self.i += 1
        while self.peek() != ")":
            if self.peek() == "...":
                self.i += 1
                variadic = True
                continue
            const = self.peek() == "const"
            base = self.base_type()
            stars = self.pointers()
            if self.peek() == "(":  # a function pointer parameter
                self.take("(")
                self.take("*")
                if self.peek() != ")":
                    self.take()
                self.take(")")
                cb_args, _ = self.parameters()
                args.append(self.cfunctype(self.ctype(base, stars, const=const), cb_args))
            else:
                if self.peek() not in (",", ")", "["):
                    self.take()  # the parameter's name
                dims = 0
                while self.peek() == "[":
                    while self.take() != "]":
                        pass
                    dims += 1
                args.append(self.ctype(base, stars + dims, const=const))
            if self.peek() == ",":
                self.i += 1
        self.take(")")
        return args, variadic

    def cfunctype(self, restype, args):
        return "_c.CFUNCTYPE(%s)" % ", ".join([restype] + args)

    def typedef(self):
        self.take("typedef")
        if self.peek() in ("struct", "union") and (self.peek(1) == "{" or self.peek(2) == "{"):
            kind = self.take()
            if self.peek() != "{":
                self.take()  # a tag; the record goes by its typedef name
            name = self.record_body_name()
            self.record(name, kind)
            self.take(name)
            self.take(";")
            return
        if self.peek() in ("struct", "union") and self.peek(2) == self.peek(1):
            # typedef struct X X; the body follows as struct X { ... };
            self.i += 1
            self.take()
            self.take()
            self.take(";")  # a record defined later, or an opaque handle when it never is
            return
        const = self.peek() == "const"
        base = self.base_type()
        stars = self.pointers()
        if self.peek() == "(":  # typedef R (*name)(params);
            self.take("(")
            self.take("*")
            name = self.take()
            self.take(")")
            args, _ = self.parameters()
            self.callbacks.append((name, self.ctype(base, stars, const=const), args))
            self.callback_names.add(name)
            self.take(";")
            return
        raise HeaderError("unsupported typedef near %r" % " ".join(self.t[self.i : self.i + 8]))

    def record_body_name(self):
        """The name after a typedef'd record's closing brace, found by looking ahead."""
        depth = 0
        j = self.i
        while j < len(self.t):
            if self.t[j] == "{":
                depth += 1
            elif self.t[j] == "}":
                depth -= 1
                if depth == 0:
                    return self.t[j + 1]
            j += 1
        raise HeaderError("unterminated record")

    def record(self, name, kind):
        """Parses { fields } (the opening brace next) into the record called name."""
        self.record_names.add(name)
        self.take("{")
        fields = []
        while self.peek() != "}":
            if self.peek() in ("struct", "union") and self.peek(1) == "{":
                sub_kind = self.take()
                j = self.i
                depth = 0
                while True:
                    depth += self.t[j] == "{"
                    depth -= self.t[j] == "}"
                    j += 1
                    if depth == 0:
                        break
                field = self.t[j]
                sub = "%s_%s" % (name, field)
                self.record(sub, sub_kind)
                self.take(field)
                fields.append((field, sub))
                self.take(";")
                continue
            const = self.peek() == "const"
            base = self.base_type()
            stars = self.pointers()
            if self.peek() == "(":
                self.take("(")
                self.take("*")
                field = self.take()
                self.take(")")
                args, _ = self.parameters()
                fields.append((field, self.cfunctype(self.ctype(base, stars, const=const), args)))
                self.take(";")
                continue
            field = self.take()
            dims = []
            while self.peek() == "[":
                self.take("[")
                dims.append(int(self.take(), 0))
                self.take("]")
            t = self.ctype(base, stars, const=const)
            for d in reversed(dims):
                t = "%s * %d" % (t, d) if " * " not in t else "(%s) * %d" % (t, d)
            fields.append((field, t))
            self.take(";")
        self.take("}")
        self.records.append((name, kind, fields))

    def function(self):
        while self.peek() in IGNORED:
            self.i += 1
        const = self.peek() == "const"
        base = self.base_type()
        stars = self.pointers()
        name = self.take()
        if not re.match(r"[A-Za-z_]\w*$", name) or self.peek() != "(":
            raise HeaderError("cannot read the declaration near %r" % " ".join(self.t[self.i - 4 : self.i + 8]))
        args, variadic = self.parameters()
        while self.peek() != ";":
            self.skip_attribute()
        self.take(";")
        self.functions.append((name, self.ctype(base, stars, const=const), args, variadic))


def parse_header(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    defines, code = split_preprocessor(strip_comments(text))
    parser = Parser(tokenize(code)).run()
    return constants(defines), parser


# ---- Writing --------------------------------------------------------------------------------


def render(path):
    consts, p = parse_header(path)
    out = [
        "# Generated from include/lumavex_core.h by tools/gen_bindings.py; do not edit by hand.",
        "# Constants, records, function-pointer types and the prototypes of the exported functions.",
        "import ctypes as _c",
        "",
        "# ---- Constants",
    ]
    for name, value in consts.items():
        out.append("%s = %r" % (name, value))
    out += ["", "# ---- Records (fields follow once every record exists)"]
    for name, kind, _ in p.records:
        base = "_c.Union" if kind == "union" else "_c.Structure"
        out.append("class %s(%s):\n    pass" % (name, base))
    # Records that were only forward-declared so far.
    out += ["", "# ---- Function-pointer types"]
    for name, restype, args in p.callbacks:
        out.append("%s = _c.CFUNCTYPE(%s)" % (name, ", ".join([restype] + args)))
    out += ["", "# ---- Record fields, in the header's order"]
    for name, _, fields in p.records:
        out.append("%s._fields_ = [" % name)
        for fname, ftype in fields:
            out.append("    (%r, %s)," % (fname, ftype))
        out.append("]")
    out += [
        "",
        "# Records named in the header, in its order (nested ones carry their parent's name).",
        "RECORDS = (",
    ]
    out += ["    %r," % name for name, _, _ in p.records]
    out += [")", "", "# Exported functions: name -> (result type, argument types, variadic)."]
    out.append("PROTOTYPES = {")
    for name, restype, args, variadic in p.functions:
        out.append("    %r: (%s, [%s], %s)," % (name, restype, ", ".join(args), variadic))
    out.append("}")
    return "\n".join(out) + "\n"


def main(argv):
    header = argv[1] if len(argv) > 1 else DEFAULT_HEADER
    output = argv[2] if len(argv) > 2 else DEFAULT_OUTPUT
    text = render(header)
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)
    print("wrote %s" % output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
