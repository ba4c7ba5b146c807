#!/usr/bin/env python3
"""Writes a C++ source that, compiled against the real Windows headers,
checks that the stand-in declares what Windows declares: each function with
the same type, each constant with the same value and each structure with the
same size and member offsets. The stand-in's declarations are copied into
namespaces of their own, where the Win32 type names they spell resolve to
the Windows types.

Usage: scripts/standin_decls.py > decls.cpp  (from the repository root);
the headers are those platform/win32.h includes when not on Windows.
"""
import re
import sys

# Names whose stand-in form differs from MinGW's headers on purpose.
FUNCTIONS_EXEMPT = {
    # MinGW spells the time-out "const PTIMEVAL" (timeval* const); the
    # Windows SDK and the stand-in take a const timeval*.
    "select",
    # MinGW has them return DWORD; the Windows SDK and the stand-in LSTATUS.
    "SHDeleteKeyA",
    "SHCopyKeyA",
    # The stand-in's own helper behind FD_SET.
    "FdSet",
}
LAYOUTS_EXEMPT = {
    # The stand-in's _stat keeps no times, so it ends after st_size; and
    # MinGW makes _stat a macro naming both the function and the structure.
    "_stat",
}
# Member names that the Windows headers define as macros.
MEMBER_MACROS = ["s_addr"]


def stand_in_headers():
    return re.findall(r'#include "(platform/posix/\w+\.h)"', open("platform/win32.h").read())


def matching_brace(text, open_at):
    depth, i = 0, open_at
    while True:
        depth += {"{": 1, "}": -1}.get(text[i], 0)
        if depth == 0:
            return i
        i += 1


def unwrap_namespaces(text):
    """namespace n { decls } becomes decls."""
    while m := re.search(r"\bnamespace\s+\w+\s*\{", text):
        close = matching_brace(text, m.end() - 1)
        text = text[: m.start()] + text[m.end() : close] + text[close + 1 :]
    return text


def strip_inline_bodies(text):
    """inline R f(args) { ... } becomes R f(args);"""
    out, pos = [], 0
    for m in re.finditer(r"\binline\b([^;{}]*?\))\s*\{", text):
        if m.start() < pos:
            continue
        out.append(text[pos : m.start()] + m.group(1) + ";")
        pos = matching_brace(text, m.end() - 1) + 1
    out.append(text[pos:])
    return "".join(out)


# Conditional directives travel through the statement splitting marked;
# within a structure they stay on lines of their own, elsewhere they go.
DIRECTIVE = "\x01"


def place_directives(st):
    drop = re.compile(DIRECTIVE + ".*?" + DIRECTIVE)
    if "{" not in st:
        return drop.sub("", st).strip()
    first, last = st.index("{"), st.rindex("}")
    body = re.sub(DIRECTIVE + "(.*?)" + DIRECTIVE, r"\n\1\n", st[first:last])
    return (drop.sub("", st[:first]) + body + drop.sub("", st[last:])).strip()


def statements(text):
    depth, current = 0, []
    for ch in text:
        current.append(ch)
        if ch == "{":
            depth += 1
        elif ch == "}":
            depth -= 1
        elif ch == ";" and depth == 0:
            yield " ".join("".join(current).split())
            current = []


def parse(path, constants, functions, layouts):
    text = open(path).read()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = text.replace("\\\n", " ")
    code = []
    for line in text.split("\n"):
        m = re.match(r"\s*#\s*define\s+(\w+)\s+(\S.*)$", line)
        if m:
            constants.append((m.group(1), m.group(2).strip()))
        elif re.match(r"\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b", line):
            code.append(DIRECTIVE + line.strip() + DIRECTIVE)
        elif not line.lstrip().startswith("#"):
            code.append(line)
    text = "\n".join(code)
    text = re.sub(r"\busing namespace \w+;", "", text)
    for st in statements(strip_inline_bodies(unwrap_namespaces(text))):
        st = place_directives(st)
        if "{" in st:
            m = re.search(r"\}\s*(\w+)", st) if st.startswith("typedef") else None
            name = m.group(1) if m else re.match(r"struct\s+(\w+)", st).group(1)
            body = st[st.index("{") + 1 : st.rindex("}")]
            layouts.append((name, st, body))
        elif st.startswith("typedef"):
            continue
        else:
            m = re.match(r".*?\b(\w+)\s*\(.*\)\s*;$", st)
            if m:
                functions.append((m.group(1), st))


def members(body):
    """The names of a structure's members, once each whatever the branch."""
    seen = set()
    for decl in re.split(r"[;{}]", body):
        decl = " ".join(line for line in decl.split("\n") if not line.startswith("#")).strip()
        if not decl or re.fullmatch(r"(union|struct)", decl):
            continue
        m = re.search(r"(\w+)\s*(\[[^\]]*\])?$", decl)
        if m and m.group(1) not in seen:
            seen.add(m.group(1))
            yield m.group(1)


def constant_expression(value):
    return re.match(r"[-~(0-9A-Z]|static_cast", value) and "reinterpret_cast" not in value


def main():
    constants, functions, layouts = [], [], []
    for path in stand_in_headers():
        parse(path, constants, functions, layouts)
    if not (constants and functions and layouts):
        sys.exit("standin_decls.py: no declarations found in the stand-in's headers")
    out = [
        "// Generated by scripts/standin_decls.py: the stand-in's declarations",
        "// checked against the Windows headers.",
        '#include "platform/win32.h"',
        "#include <cstddef>",
        "#include <cstdint>",
        "namespace standin_decl {",
    ]
    out += [decl for name, decl in functions if name not in FUNCTIONS_EXEMPT]
    out.append("}")
    for macro in MEMBER_MACROS:
        out += [f'#pragma push_macro("{macro}")', f"#undef {macro}"]
    out.append("namespace standin_layout {")
    for name, decl, body in layouts:
        out.append(decl)
        if name in LAYOUTS_EXEMPT:
            continue
        for member in members(body):
            out.append(f"constexpr std::size_t offset_{name}_{member} = offsetof({name}, {member});")
    out.append("}")
    for macro in MEMBER_MACROS:
        out.append(f'#pragma pop_macro("{macro}")')
    for name, decl in functions:
        if name not in FUNCTIONS_EXEMPT:
            out.append(
                f"[[maybe_unused]] static decltype(&standin_decl::{name}) const check_{name} = &::{name};"
            )
    for name, decl, body in layouts:
        if name in LAYOUTS_EXEMPT:
            continue
        out.append(f'static_assert(sizeof(::{name}) == sizeof(standin_layout::{name}), "size of {name}");')
        for member in members(body):
            out.append(
                f"static_assert(offsetof(::{name}, {member}) == standin_layout::offset_{name}_{member},"
                f' "offset of {name}::{member}");'
            )
    for name, value in constants:
        if not constant_expression(value):
            continue
        value = value.replace("ws2::", "::")
        out.append(f'static_assert(({name}) == ({value}), "value of {name}");')
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
