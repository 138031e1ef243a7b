#!/usr/bin/env python3
"""Checks that the manual page and the README document exactly the environment variables the
program reads, so that neither table drifts from the code.

    scripts/check-environment-docs.py [SOURCE_DIR]

The code's list comes from src/: every lookup of a variable (platform::Environment::value,
getenv and its Qt forms, and resolveOrigin, which reads the origin variable it is given) with
its argument resolved to a name: a string literal, a constant initialised with one (looked up
in the same file or its header first), or the loop variable of a `for` over a braced list of
literals. An argument that resolves to nothing fails the check, so that a new way of reading
the environment cannot slip past it. The documentation's lists are the names in the first
column of the README's "Environment" table and in the .TP headings of the manual page's
ОКРУЖЕНИЕ section.
"""

import re
import shlex
import sys
from pathlib import Path

# Read on the program's behalf by libcurl, for every HTTPS request to a provider.
READ_BY_LIBRARIES = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}

# Lookups whose argument is the name a caller passed in: the callers are checked instead.
PASS_THROUGH = {
    ("src/platform/Environment.cpp", None),  # the lookup itself (its literals still count)
    ("src/platform/EndpointOrigin.cpp", "variable"),  # inside resolveOrigin
}

LOOKUP = re.compile(
    r"""(?x)
    (?: \b\w*[Ee]nvironment\w*\s*(?:\.|->)\s*value   # an Environment object's value(name)
      | \b(?:secure_)?getenv                         # the C library
      | \bqgetenv | \bqEnvironmentVariable\w*         # Qt
    )\s*\(
    | (?P<origin>\bresolveOrigin)\s*\(
    """
)
NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
LITERAL = re.compile(r'^"([^"\\]*)"$')
CONSTANT = re.compile(r'\b(\w+)\s*(?:=\s*|\{\s*)"([A-Za-z_][A-Za-z0-9_]*)"')
DECLARED = re.compile(r"^[\w:<>,]+(?:\s*[&*]+\s*|\s+)\w+$")
LOOP = re.compile(r"for\s*\([^;:()]*?\b(\w+)\s*:\s*\{([^{}]*)\}\s*\)")


def without_comments(text):
    """The source with comments blanked out; string and character literals are kept."""
    token = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)

    def replace(match):
        piece = match.group(0)
        return piece if piece[0] in "\"'" else re.sub(r"[^\n]", " ", piece)

    return token.sub(replace, text)


def arguments(text, open_paren):
    """The top-level arguments of the call whose "(" is at open_paren, stripped."""
    depth, start, result = 0, open_paren + 1, []
    index = open_paren
    while index < len(text):
        char = text[index]
        if char == '"':
            index = _string_end(text, index)
        elif char in "([{":
            depth += 1
        elif char in ")]}":
            depth -= 1
            if depth == 0:
                result.append(text[start:index].strip())
                return result
        elif char == "," and depth == 1:
            result.append(text[start:index].strip())
            start = index + 1
        index += 1
    return result


def _string_end(text, quote):
    index = quote + 1
    while text[index] != '"':
        index += 2 if text[index] == "\\" else 1
    return index


def code_variables(root):
    sources = {}
    for path in sorted((root / "src").rglob("*")):
        if path.suffix in {".cpp", ".h", ".mm"} and path.is_file():
            sources[path.relative_to(root).as_posix()] = without_comments(
                path.read_text(encoding="utf-8", errors="replace")
            )

    constants = {}  # name -> {file: value}
    for relative, text in sources.items():
        for name, value in CONSTANT.findall(text):
            constants.setdefault(name, {})[relative] = value

    found, problems = {}, []
    for relative, text in sources.items():
        for match in LOOKUP.finditer(text):
            line = text.count("\n", 0, match.start()) + 1
            call = arguments(text, match.end() - 1)
            position = 1 if match.group("origin") else 0
            if len(call) <= position:
                continue  # a declaration without arguments, or a call we cannot read
            argument = call[position]
            where = f"{relative}:{line}"
            literal = LITERAL.match(argument)
            if not literal and ((relative, None) in PASS_THROUGH or (relative, argument) in PASS_THROUGH):
                continue
            if DECLARED.match(argument):
                continue  # "std::string_view variable": a declaration, not a call
            names = resolve(argument, relative, text, match.start(), constants)
            if names is None:
                problems.append(f"{where}: не удалось понять, какую переменную читает «{argument}»")
            for name in names or []:
                found.setdefault(name, where)
    return found, problems


def resolve(argument, relative, text, position, constants):
    literal = LITERAL.match(argument)
    if literal:
        return [literal.group(1)]
    identifier = argument.split("::")[-1]
    if not NAME.match(identifier):
        return None
    # The loop variable of the nearest `for` over a list of literals before the lookup.
    loops = [m for m in LOOP.finditer(text, 0, position) if m.group(1) == identifier]
    if loops:
        return re.findall(r'"([^"\\]*)"', loops[-1].group(2))
    candidates = constants.get(identifier, {})
    stem = relative.rsplit(".", 1)[0]
    own = [value for file, value in candidates.items() if file.rsplit(".", 1)[0] == stem]
    if own:
        return own
    return sorted(set(candidates.values())) or None


def readme_variables(root):
    text = (root / "README.md").read_text(encoding="utf-8")
    section = re.search(r"^## Environment\n(.*?)(?=^## |\Z)", text, re.S | re.M)
    if not section:
        return None
    names = set()
    for row in section.group(1).splitlines():
        if not row.startswith("|") or row.startswith("|---"):
            continue
        first = row.split("|")[1]
        names.update(re.findall(r"`([A-Za-z_][A-Za-z0-9_]*)`", first))
    return names


def manual_variables(root):
    lines = (root / "data/kestrane.1").read_text(encoding="utf-8").splitlines()
    names, inside, after_tp = set(), False, False
    for line in lines:
        if line.startswith(".SH"):
            inside = line.split(None, 1)[1].strip('"') == "ОКРУЖЕНИЕ"
            continue
        if not inside:
            continue
        if line.startswith(".TP"):
            after_tp = True
            continue
        if after_tp and (line.startswith(".B ") or line.startswith(".BR ")):
            for word in shlex.split(line.split(None, 1)[1]):
                if NAME.match(word):
                    names.add(word)
        after_tp = False
    return names


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    code, problems = code_variables(root)
    expected = set(code) | READ_BY_LIBRARIES
    failed = bool(problems)
    for problem in problems:
        print(problem)
    for title, documented in (
        ("README.md, раздел Environment", readme_variables(root)),
        ("data/kestrane.1, раздел ОКРУЖЕНИЕ", manual_variables(root)),
    ):
        if not documented:
            print(f"{title}: переменные окружения не найдены")
            failed = True
            continue
        for name in sorted(expected - documented):
            origin = code.get(name, "libcurl")
            print(f"{title}: нет переменной {name} (её читает {origin})")
            failed = True
        for name in sorted(documented - expected):
            print(f"{title}: описана переменная {name}, которую программа не читает")
            failed = True
    if not failed:
        print(f"Переменные окружения описаны верно: {len(expected)}.")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
