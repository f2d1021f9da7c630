"""Reads what the docs claim and what the code says, for the docs check.

The docs are README.md and every Markdown file under docs/. Three kinds of
claim are read from them:

- test names in inline code: `Suite.Name` and `Suite.*` (GoogleTest, from the
  TEST, TEST_F and TEST_P macros under tests/unit), `Class.test_method`,
  `test_module.Class.test_method`, `test_function` and `test_module.py` (the
  Python tests under tests/), and a bare CamelCase name of five words or more,
  which must be a GoogleTest name or occur in the code;
- the "Time and size limits" table: a heading of that name and, under it, a
  table with the columns "what", "value" and "constant" (its format is in
  docs/limits.md); each value is compared with the constant's value in the
  code, computed from its definition there;
- relative links and anchors: [text](path#anchor), images and reference
  definitions, with GitHub's heading anchors.

Standard library only. Every function takes the repository's root, so that
the tests can run it on a small tree of their own."""

import ast
import os
import re
import urllib.parse

DOC_EXTENSION = ".md"
LIMITS_HEADING = "Time and size limits"
LIMITS_COLUMNS = ("what", "value", "constant")

# ---------------------------------------------------------------------------
# Markdown


def doc_files(root):
    """README.md and docs/**/*.md, as paths relative to root, sorted."""
    found = []
    if os.path.exists(os.path.join(root, "README.md")):
        found.append("README.md")
    for folder, _, names in os.walk(os.path.join(root, "docs")):
        for name in names:
            if name.endswith(DOC_EXTENSION):
                found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def read_text(root, path):
    with open(os.path.join(root, path), encoding="utf-8") as file:
        return file.read()


FENCE = re.compile(r"^\s*(```|~~~)")


def prose_lines(text):
    """(line number, line) of every line outside fenced code blocks."""
    inside = None
    for number, line in enumerate(text.splitlines(), 1):
        fence = FENCE.match(line)
        if fence:
            if inside is None:
                inside = fence.group(1)
            elif fence.group(1) == inside:
                inside = None
            continue
        if inside is None:
            yield number, line


CODE_SPAN = re.compile(r"(`+)(.+?)\1")


def code_spans(line):
    return [match.group(2).strip() for match in CODE_SPAN.finditer(line)]


def without_code_spans(line):
    return CODE_SPAN.sub(lambda match: " " * len(match.group(0)), line)


HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
INLINE_LINK = re.compile(r"\[([^\]]*)\]\(([^)\s]+)\)")


def heading_text(raw):
    """A heading as GitHub shows it: links as their text, no code or emphasis marks."""
    text = INLINE_LINK.sub(lambda match: match.group(1), raw)
    return text.replace("`", "").replace("*", "")


def slug(text):
    """GitHub's anchor for a heading's text: lower case, punctuation dropped,
    blanks turned into hyphens."""
    text = heading_text(text).strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def headings(text):
    """(line number, level, text) of every heading outside code blocks."""
    result = []
    for number, line in prose_lines(text):
        match = HEADING.match(line)
        if match:
            result.append((number, len(match.group(1)), match.group(2)))
    return result


HTML_ANCHOR = re.compile(r"<a\s+(?:id|name)=\"([^\"]+)\"")


def anchors(text):
    """Every anchor a link may name in a Markdown file: its headings' (a
    repeated one numbered -1, -2, ... as GitHub does) and explicit <a id>."""
    seen = {}
    result = set()
    for _, _, title in headings(text):
        base = slug(title)
        count = seen.get(base, 0)
        seen[base] = count + 1
        result.add(base if count == 0 else f"{base}-{count}")
    for _, line in prose_lines(text):
        result.update(HTML_ANCHOR.findall(line))
    return result


REFERENCE_DEFINITION = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*(\S+)")


def links(text):
    """(line number, target) of every link, image and reference definition
    outside code."""
    for number, line in prose_lines(text):
        definition = REFERENCE_DEFINITION.match(line)
        if definition:
            yield number, definition.group(1)
            continue
        for match in INLINE_LINK.finditer(without_code_spans(line)):
            yield number, match.group(2).strip("<>")


SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def broken_links(root, path, text, anchor_cache=None):
    """A message for every relative link of `path` whose file or anchor is missing."""
    if anchor_cache is None:
        anchor_cache = {}
    problems = []
    folder = os.path.dirname(path)
    for number, target in links(text):
        if SCHEME.match(target):
            continue  # a web address or mailto: not checked here
        file_part, _, fragment = target.partition("#")
        file_part = urllib.parse.unquote(file_part)
        where = f"{path}:{number}: link {target}"
        if file_part:
            resolved = os.path.normpath(os.path.join(folder, file_part))
            if resolved.startswith(os.pardir):
                problems.append(f"{where}: leaves the repository")
                continue
            if not os.path.exists(os.path.join(root, resolved)):
                problems.append(f"{where}: no file {resolved}")
                continue
        else:
            resolved = path
        if not fragment:
            continue
        if not resolved.endswith(DOC_EXTENSION):
            continue  # an anchor into another kind of file (a line of code) is the viewer's
        if resolved not in anchor_cache:
            anchor_cache[resolved] = anchors(read_text(root, resolved))
        if fragment not in anchor_cache[resolved]:
            problems.append(f"{where}: no heading or anchor #{fragment} in {resolved}")
    return problems


# ---------------------------------------------------------------------------
# Test names

GTEST = re.compile(r"\b(?:TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)")


def gtest_names(root):
    """Every (suite, name) of the GoogleTest tests under tests/unit."""
    names = set()
    for folder, _, files in os.walk(os.path.join(root, "tests", "unit")):
        for name in files:
            if name.endswith((".cpp", ".h")):
                with open(os.path.join(folder, name), encoding="utf-8") as file:
                    names.update(GTEST.findall(file.read()))
    return names


class PythonTests:
    """The Python tests under tests/: modules, classes, test methods and functions."""

    def __init__(self, root):
        self.modules = set()     # "test_download"
        self.classes = set()     # ("test_download", "DownloadTest")
        self.methods = set()     # ("test_download", "DownloadTest", "test_...")
        self.functions = set()   # every test_... function or method name
        for folder, _, files in os.walk(os.path.join(root, "tests")):
            for name in files:
                if not name.endswith(".py"):
                    continue
                module = name[:-3]
                if module.startswith("test_"):
                    self.modules.add(module)
                with open(os.path.join(folder, name), encoding="utf-8") as file:
                    tree = ast.parse(file.read(), name)
                for node in tree.body:
                    if isinstance(node, ast.FunctionDef) and node.name.startswith("test_"):
                        self.functions.add(node.name)
                    elif isinstance(node, ast.ClassDef):
                        self.classes.add((module, node.name))
                        for member in node.body:
                            if isinstance(member, ast.FunctionDef) and member.name.startswith("test_"):
                                self.methods.add((module, node.name, member.name))
                                self.functions.add(member.name)

    def has_method(self, class_name, method, module=None):
        return any(c == class_name and m == method and module in (None, mod) for mod, c, m in self.methods)


IDENTIFIER_IN_CODE = re.compile(r"\b[A-Za-z_]\w*\b")


def code_identifiers(root):
    """Every identifier in the source, tests and scripts (to tell a cited name
    of the code from a test name that no longer exists)."""
    found = set()
    for top in ("src", "tests", "scripts"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if name.endswith((".cpp", ".h", ".py", ".rc", ".sh")) or "." not in name:
                    try:
                        with open(os.path.join(folder, name), encoding="utf-8") as file:
                            found.update(IDENTIFIER_IN_CODE.findall(file.read()))
                    except (UnicodeDecodeError, OSError):
                        pass
    return found


GTEST_CITATION = re.compile(r"^([A-Z]\w*)\.([A-Z]\w*|\*)$")
PY_METHOD_CITATION = re.compile(r"^(?:(test_\w+)\.)?([A-Z]\w*)\.(test_\w+)$")
PY_NAME_CITATION = re.compile(r"^test_\w+$")
PY_MODULE_FILE = re.compile(r"^(?:tests/\w+/)?(test_\w+)\.py$")
# Five capitalised words or more, nothing else: a test's name by its look.
LONG_CAMEL_CASE = re.compile(r"^(?=(?:[^a-z]*[a-z]+){4})[A-Z][a-z0-9]*(?:[A-Z][a-z0-9]*){4,}$")


def missing_test_citations(path, text, gtests, python, identifiers):
    """A message for every test name cited in `text` that names no test."""
    suites = {suite for suite, _ in gtests}
    names = {name for _, name in gtests}
    problems = []
    for number, line in prose_lines(text):
        for span in code_spans(line):
            where = f"{path}:{number}: `{span}`"
            gtest = GTEST_CITATION.match(span)
            method = PY_METHOD_CITATION.match(span)
            module_file = PY_MODULE_FILE.match(span)
            if gtest:
                suite, name = gtest.groups()
                if name == "*":
                    if suite not in suites:
                        problems.append(f"{where}: no GoogleTest suite {suite}")
                elif (suite, name) not in gtests:
                    problems.append(f"{where}: no GoogleTest test {suite}.{name}")
            elif method:
                module, class_name, test = method.groups()
                if not python.has_method(class_name, test, module):
                    problems.append(f"{where}: no Python test method {span}")
            elif module_file:
                if module_file.group(1) not in python.modules:
                    problems.append(f"{where}: no test module {span} under tests/")
            elif PY_NAME_CITATION.match(span):
                if span not in python.modules and span not in python.functions:
                    problems.append(f"{where}: no Python test module or test named {span}")
            elif LONG_CAMEL_CASE.match(span):
                if span not in names and span not in identifiers:
                    problems.append(f"{where}: neither a GoogleTest test's name nor a name in the code")
    return problems


# ---------------------------------------------------------------------------
# The C++ constants and the CMake defaults

CONSTEXPR = re.compile(r"\bconstexpr\b[^;={}()]*?\b(k[A-Z]\w*)\s*(\[[^\]]*\])?\s*=\s*([^;]*);", re.S)
CMAKE_CACHE_DEFAULT = re.compile(r"\bset\(\s*(TARNIX_\w+)\s+(\"[^\"]*\"|[^\s)]+)\s+CACHE\b")


DIGIT_SEPARATOR = re.compile(r"(?<=[0-9a-fA-F])'(?=[0-9a-fA-F])")
LITERAL_OR_COMMENT = re.compile(r"(\"(?:\\.|[^\"\\\n])*\"|'(?:\\.|[^'\\\n])*')|//[^\n]*|/\*.*?\*/", re.S)


def without_comments(text):
    """C++ text without its comments; string and character literals kept whole."""
    text = DIGIT_SEPARATOR.sub("", text)
    return LITERAL_OR_COMMENT.sub(lambda match: match.group(1) or " ", text)


def cxx_constants(root):
    """name -> [(file relative to src/, definition text, is an array)]."""
    found = {}
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8") as file:
                text = without_comments(file.read())
            relative = os.path.relpath(path, os.path.join(root, "src")).replace(os.sep, "/")
            for match in CONSTEXPR.finditer(text):
                found.setdefault(match.group(1), []).append(
                    (relative, match.group(3).strip(), match.group(2) is not None))
    return found


def cmake_defaults(root):
    """The default of each TARNIX_ cache variable, from CMakeLists.txt and cmake/*.cmake."""
    paths = [os.path.join(root, "CMakeLists.txt")]
    cmake_folder = os.path.join(root, "cmake")
    if os.path.isdir(cmake_folder):
        paths += [os.path.join(cmake_folder, name) for name in sorted(os.listdir(cmake_folder))
                  if name.endswith(".cmake")]
    defaults = {}
    for path in paths:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as file:
                for name, value in CMAKE_CACHE_DEFAULT.findall(file.read()):
                    defaults[name] = value.strip('"')
    return defaults


class EvaluationError(Exception):
    pass


# sizeof of the types whose size is the same on every target; wchar_t is not.
SIZEOF = {"char": 1, "char16_t": 2, "char32_t": 4, "std::uint8_t": 1, "std::int8_t": 1,
          "std::uint16_t": 2, "std::int16_t": 2, "std::uint32_t": 4, "std::int32_t": 4,
          "std::uint64_t": 8, "std::int64_t": 8}
BINARY = {ast.Add: lambda a, b: a + b, ast.Sub: lambda a, b: a - b, ast.Mult: lambda a, b: a * b,
          ast.FloorDiv: lambda a, b: a // b, ast.Mod: lambda a, b: a % b,
          ast.LShift: lambda a, b: a << b, ast.RShift: lambda a, b: a >> b,
          ast.BitOr: lambda a, b: a | b, ast.BitAnd: lambda a, b: a & b}


class Constants:
    """Computes constants from their C++ definitions: integer literals (with
    digit separators and suffixes), + - * / % << >> | &, parentheses,
    static_cast, sizeof of fixed-size types, other constants, and the TARNIX_
    build-time settings at their CMake defaults; an array's braced list."""

    def __init__(self, root):
        self.definitions = cxx_constants(root)
        self.settings = cmake_defaults(root)
        self.cache = {}

    def declared_in(self, name):
        return [file for file, _, _ in self.definitions.get(name, [])]

    def value(self, name, file=None, active=()):
        """The value of `name` (defined in `file`, relative to src/, when given):
        an int, or a list of ints for an array."""
        key = (name, file)
        if key in self.cache:
            return self.cache[key]
        if name in active:
            raise EvaluationError(f"{name} is defined through itself")
        candidates = [d for d in self.definitions.get(name, []) if file is None or d[0] == file]
        if not candidates:
            raise EvaluationError(f"{name} is not defined" + (f" in src/{file}" if file else ""))
        if len({d[1] for d in candidates}) > 1:
            raise EvaluationError(f"{name} has several definitions: " + ", ".join(d[0] for d in candidates))
        _, text, is_array = candidates[0]
        if is_array or text.startswith("{"):
            items = text.strip().lstrip("{").rstrip("}").split(",")
            result = [self.evaluate(item, active + (name,)) for item in items if item.strip()]
        else:
            result = self.evaluate(text, active + (name,))
        self.cache[key] = result
        return result

    def evaluate(self, text, active=()):
        expression = re.sub(r"static_cast<[^<>]*>", "", text)
        expression = re.sub(r"sizeof\(\s*([\w:]+)\s*\)", lambda m: self.size_of(m.group(1)), expression)
        expression = re.sub(r"(?<=[0-9a-fA-F])'(?=[0-9a-fA-F])", "", expression)
        expression = re.sub(r"\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b", r"\1", expression)
        expression = re.sub(r"\b(?:\w+::)+(?=k[A-Z])", "", expression)
        expression = expression.replace("/", "//")
        try:
            tree = ast.parse(expression.strip(), mode="eval")
        except SyntaxError:
            raise EvaluationError(f"cannot compute {text!r}") from None
        return self.walk(tree.body, text, active)

    def size_of(self, type_name):
        if type_name not in SIZEOF:
            raise EvaluationError(f"sizeof({type_name}) differs between targets or is not known here")
        return str(SIZEOF[type_name])

    def walk(self, node, text, active):
        if isinstance(node, ast.Constant) and isinstance(node.value, int):
            return node.value
        if isinstance(node, ast.BinOp) and type(node.op) in BINARY:
            return BINARY[type(node.op)](self.walk(node.left, text, active), self.walk(node.right, text, active))
        if isinstance(node, ast.UnaryOp) and isinstance(node.op, (ast.USub, ast.UAdd)):
            operand = self.walk(node.operand, text, active)
            return -operand if isinstance(node.op, ast.USub) else operand
        if isinstance(node, ast.Name):
            if node.id.startswith("TARNIX_"):
                if node.id not in self.settings:
                    raise EvaluationError(f"{node.id} has no CMake default")
                return self.evaluate(self.settings[node.id], active)
            value = self.value(node.id, None, active)
            if isinstance(value, list):
                raise EvaluationError(f"{node.id} is an array, in {text!r}")
            return value
        raise EvaluationError(f"cannot compute {text!r}")


# ---------------------------------------------------------------------------
# The limits table

NANOSECONDS = {"ns": 1, "100 ns": 100, "ms": 10**6, "millisecond": 10**6, "milliseconds": 10**6,
               "s": 10**9, "second": 10**9, "seconds": 10**9, "min": 60 * 10**9, "minute": 60 * 10**9,
               "minutes": 60 * 10**9, "h": 3600 * 10**9, "hour": 3600 * 10**9, "hours": 3600 * 10**9,
               "day": 86400 * 10**9, "days": 86400 * 10**9}
BYTES = {"byte": 1, "bytes": 1, "KiB": 1024, "MiB": 1024**2, "GiB": 1024**3}
NUMBER = r"\d{1,3}(?:,\d{3})+|\d+"
QUANTITY = re.compile(rf"^({NUMBER})(?:\s+(100 ns|[A-Za-z]+))?")
VALUE_SEPARATOR = re.compile(r",?\s+(?:then|and)\s+|,\s+")
CONSTANT_CELL = re.compile(r"^`(k[A-Z]\w*)`\s*\(`([\w/.]+)`(?:;\s*in\s+(100 ns|[A-Za-z]+))?\)$")
NO_CONSTANT = ("", "-", "—", "none")


def split_row(line):
    cells = line.strip().strip("|").split("|")
    return [cell.strip() for cell in cells]


def limits_tables(root):
    """(doc path, first line number, rows) of each table under a heading
    "Time and size limits"; rows are (line number, cells), the header first."""
    tables = []
    for path in doc_files(root):
        lines = read_text(root, path).splitlines()
        for number, _, title in headings(read_text(root, path)):
            if heading_text(title).strip() != LIMITS_HEADING:
                continue
            rows = []
            for index in range(number, len(lines)):
                line = lines[index]
                if line.startswith("|"):
                    rows.append((index + 1, split_row(line)))
                elif rows or HEADING.match(line):
                    break
            tables.append((path, number, rows))
    return tables


def parse_quantities(text):
    """The value cell's quantities: [(number, unit or None)]. What stands in
    parentheses is a remark and not read; so is a word after a plain count."""
    text = re.sub(r"\([^)]*\)", "", text.replace("`", "")).strip()
    if not text:
        raise ValueError("no value")
    quantities = []
    for item in VALUE_SEPARATOR.split(text):
        item = item.strip()
        match = QUANTITY.match(item)
        if not match or item[match.end():match.end() + 1] not in ("", " "):
            raise ValueError(f"{item!r} is not a whole number with a unit")
        number = int(match.group(1).replace(",", ""))
        unit = match.group(2)
        if unit is not None and unit not in NANOSECONDS and unit not in BYTES:
            unit = None  # a count: "3 attempts", "2,048 characters"
        quantities.append((number, unit))
    return quantities


def code_unit(name, explicit):
    """The unit a constant counts in: as its row says (`; in ms`), else by its
    name's ending (...Ms, ...Milliseconds, ...Seconds); None when neither tells."""
    if explicit:
        return explicit
    if name.endswith(("Ms", "Milliseconds")):
        return "ms"
    if name.endswith("Seconds"):
        return "s"
    return None


def in_code_unit(name, quantity, explicit_unit):
    """A table quantity in the constant's own unit, or raises ValueError."""
    number, unit = quantity
    if unit is None:
        return number
    if unit in BYTES:
        target = explicit_unit or "bytes"
        if target not in BYTES:
            raise ValueError(f"a size for {name}, which counts in {target}")
        total, step = number * BYTES[unit], BYTES[target]
    else:
        target = code_unit(name, explicit_unit)
        if target is None:
            raise ValueError(f"{name}'s unit is in neither its name nor its row: add "
                             f"\"; in ms\" (or s, 100 ns) after its file")
        if target not in NANOSECONDS:
            raise ValueError(f"a time for {name}, which counts in {target}")
        total, step = number * NANOSECONDS[unit], NANOSECONDS[target]
    if total % step:
        raise ValueError(f"{number} {unit} is not a whole number of {target}")
    return total // step


def limits_problems(root):
    """A message for every way the limits table disagrees with the code, or
    cannot be read."""
    tables = limits_tables(root)
    if len(tables) != 1:
        where = ", ".join(f"{path}:{line}" for path, line, _ in tables) or "none"
        return [f"expected one heading \"{LIMITS_HEADING}\" with its table in the docs, found: {where}"]
    path, heading_line, rows = tables[0]
    if len(rows) < 3:
        return [f"{path}:{heading_line}: no table under \"{LIMITS_HEADING}\""]
    header = tuple(cell.lower() for cell in rows[0][1])
    if header != LIMITS_COLUMNS:
        return [f"{path}:{rows[0][0]}: the limits table's columns must be {' | '.join(LIMITS_COLUMNS)}"]
    constants = Constants(root)
    problems = []
    for number, cells in rows[2:]:
        where = f"{path}:{number}"
        if len(cells) != len(LIMITS_COLUMNS):
            problems.append(f"{where}: {len(cells)} cells, not {len(LIMITS_COLUMNS)}")
            continue
        what, value, constant = cells
        if constant in NO_CONSTANT:
            continue
        match = CONSTANT_CELL.match(constant)
        if not match:
            problems.append(f"{where}: the constant cell must read `kName` (`folder/file.h`), "
                            f"optionally with \"; in <unit>\" before the closing parenthesis: {constant!r}")
            continue
        name, file, explicit_unit = match.groups()
        try:
            actual = constants.value(name, file)
        except EvaluationError as error:
            declared = constants.declared_in(name)
            hint = f" (declared in {', '.join('src/' + d for d in declared)})" if declared else ""
            problems.append(f"{where}: {name}: {error}{hint}")
            continue
        try:
            stated = [in_code_unit(name, quantity, explicit_unit) for quantity in parse_quantities(value)]
        except ValueError as error:
            problems.append(f"{where}: {name}: the value {value!r}: {error}")
            continue
        expected = actual if isinstance(actual, list) else [actual]
        if stated != expected:
            shown = ", ".join(str(v) for v in expected)
            problems.append(f"{where}: {name} is {shown} in src/{file}, but the table says {value!r} "
                            f"({', '.join(str(v) for v in stated)})")
    return problems
