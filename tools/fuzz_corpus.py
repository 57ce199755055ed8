"""Source texts for fuzzing the requests: windows of the standard library's own sources, random
mutations of them, a soup of Python tokens, and hand-made hostile texts (lone surrogates, NUL,
carriage-return line ends, a 1 MB line, deep nesting).

Everything is a pure function of its arguments (a `random.Random` seed), so a failing case can be
rebuilt from the numbers hypothesis prints."""
import functools
import os
import random
import sysconfig

# Modules whose import has side effects (a browser, printing): never in the corpus, since the
# unresolved-import check may import the parents of the names it sees.
UNSAFE_WORDS = ("antigravity", "__hello__", "__phello__", "import this")

# A fixed, varied sample for the default run; `make fuzz` draws from the whole library.
SAMPLE = ("ast.py", "textwrap.py", "dataclasses.py", "functools.py", "string.py", "colorsys.py",
          "fractions.py", "shlex.py", "difflib.py", "json/decoder.py", "email/_parseaddr.py",
          "asyncio/locks.py", "enum.py", "typing.py", "tokenize.py", "contextlib.py")

TOKENS = ("def ", "class ", "import ", "from ", " as ", "return ", "lambda ", "yield ", "async ",
          "await ", "if ", "else:", "elif ", "for ", "in ", "while ", "try:", "except ", "with ",
          "global ", "print", "os", "os.path", "self", "x", "_y", "__init__", "Circle", "é", "名前",
          "(", ")", "[", "]", "{", "}", ":", ",", ".", "=", "==", "->", "*", "**", "@", "\\", "#",
          "'", '"', '"""', "f'{", "0", "1.5e3", "0x1F", "\n", "\n    ", "\t", "\r", "\r\n",
          "\x00", "\ud800", "\udcff", "\ufeff", "\u2028", " ")


def stdlib_dir():
    return sysconfig.get_paths()["stdlib"]


def _safe(text):
    return not any(w in text for w in UNSAFE_WORDS)


@functools.lru_cache(maxsize=None)
def stdlib_files(whole_library=False):
    """Relative paths of the corpus files, sorted, that exist in this interpreter's library."""
    root = stdlib_dir()
    if not whole_library:
        names = SAMPLE
    else:
        names = []
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames[:] = sorted(d for d in dirnames if d not in ("site-packages", "dist-packages", "test",
                                                                    "idlelib", "tkinter", "turtledemo"))
            names += [os.path.relpath(os.path.join(dirpath, f), root) for f in filenames if f.endswith(".py")]
    return tuple(sorted(n for n in names if os.path.isfile(os.path.join(root, n))))


@functools.lru_cache(maxsize=64)
def read_source(name):
    with open(os.path.join(stdlib_dir(), name), encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    return text if _safe(text) else ""


def window(name, first_line, line_count):
    """`line_count` lines of the file starting at `first_line` (wrapping to the file's start)."""
    lines = read_source(name).splitlines(keepends=True)
    if not lines:
        return ""
    first = first_line % len(lines)
    return "".join(lines[first:first + line_count])


def _delete(text, rnd):
    a = rnd.randrange(len(text) + 1)
    return text[:a] + text[a + rnd.randrange(1, 40):]


def _duplicate(text, rnd):
    a = rnd.randrange(len(text) + 1)
    return text[:a] + text[a:a + rnd.randrange(1, 80)] + text[a:]


def _insert_token(text, rnd):
    a = rnd.randrange(len(text) + 1)
    return text[:a] + rnd.choice(TOKENS) + text[a:]


def _swap_lines(text, rnd):
    lines = text.splitlines(keepends=True)
    if len(lines) > 1:
        i, j = rnd.randrange(len(lines)), rnd.randrange(len(lines))
        lines[i], lines[j] = lines[j], lines[i]
    return "".join(lines)


def _line_ends(text, rnd):
    return text.replace("\n", rnd.choice(("\r", "\r\n", "\n\r", "\x0c\n")))


def _truncate(text, rnd):
    return text[:rnd.randrange(len(text) + 1)]


def _indent(text, rnd):
    lines = text.splitlines(keepends=True)
    if lines:
        i = rnd.randrange(len(lines))
        lines[i] = rnd.choice((" ", "\t", "        ")) + lines[i]
    return "".join(lines)


MUTATIONS = (_delete, _duplicate, _insert_token, _swap_lines, _line_ends, _truncate, _indent)


def mutate(text, seed, steps):
    rnd = random.Random(seed)
    for _ in range(steps):
        text = rnd.choice(MUTATIONS)(text, rnd) if text else rnd.choice(TOKENS)
    return text


def mutated_window(seed, whole_library=False, max_lines=60):
    """A window of a library file with a few mutations, all chosen by `seed`."""
    rnd = random.Random(seed)
    files = stdlib_files(whole_library)
    text = window(rnd.choice(files), rnd.randrange(10_000), rnd.randrange(1, max_lines + 1))
    return mutate(text, rnd.randrange(2**32), rnd.randrange(0, 6))


def token_soup(seed, length):
    rnd = random.Random(seed)
    return "".join(rnd.choice(TOKENS) for _ in range(length))


def deep_nesting(depth, opener="(", closer=")", inner="x"):
    return "y = " + opener * depth + inner + closer * depth + "\n"


def deep_blocks(depth):
    return "".join("    " * i + f"if x{i}:\n" for i in range(depth)) + "    " * depth + "pass\n"


# Hand-made hostile texts; the 1 MB line and the deepest nestings are costly for jedi.
SPECIAL = {
    "empty": "",
    "lone surrogates": "x = '\ud800'\n\udcff = 1\nprint(x\udc80)\n",
    "nul": "import os\x00\nos.pa\x00th\n\x00",
    "cr line ends": "import os\rdef f(a, b):\r    return a\rf(1, \ros.",
    "crlf line ends": "import os\r\ndef f(a, b):\r\n    return a\r\nf(1, \r\nos.",
    "bom and line separators": "\ufeffimport os\u2028os.\x0cpath\x85x\n",
    "one mb line": "x = '" + "a" * (1 << 20) + "'\nx.up",
    "one mb identifier": "abc" * (1 << 18) + "\n",
    "deep parentheses": deep_nesting(150),
    "very deep parentheses": deep_nesting(2000),
    "deep lists": deep_nesting(300, "[", "]"),
    "deep calls": "y = " + "f(" * 200 + ")" * 200 + "\n",
    "deep attributes": "y = x" + ".a" * 5000 + "\n",
    "deep blocks": deep_blocks(90),
    "long binop": "y = " + " + ".join(["1"] * 5000) + "\n",
    "unclosed string": "s = '''never closed\nimport os\nos.",
    "tabs and spaces": "if x:\n\tpass\n        pass\n",
    "import alias": "import numpy as n",
    "unicode identifiers": "名前 = 1\nnaïve = 名前\nnaïve.",
}
