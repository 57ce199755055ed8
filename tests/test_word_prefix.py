"""_get_word_prefix: the identifier characters that end at the cursor. The module scans natively;
these tests hold it to the regular expression it replaces."""
import re

import pytest
from hypothesis import example, given, settings, strategies as st

WORD = "[a-zA-Z_][a-zA-Z0-9_]*$"


def expected(code, line, column):
    lines = code.split("\n")
    if line < 1 or line > len(lines):
        return ""
    match = re.search(WORD, lines[line - 1][:column])
    return match.group() if match else ""


# Word characters, their non-ASCII look-alikes, line ends, surrogates and characters of all
# three str widths (1, 2 and 4 bytes per character).
ALPHABET = list("azAZ_09 .(\t\r\n\x00") + ["\u00ef", "\u00df", "\u0100", "\u4e2d", "\ud800", "\udfff",
                                            "\U0001d518", "\U0001f600", "\u0660"]
codes = st.one_of(st.text(alphabet=st.sampled_from(ALPHABET), max_size=40), st.text(max_size=40))
positions = st.one_of(st.integers(-45, 45), st.sampled_from([2**62, -(2**62), 10**30, -(10**30)]))


@settings(max_examples=3000, deadline=None)
@given(code=codes, line=positions, column=positions)
@example(code="foo\r\nbar", line=1, column=4)
@example(code="x\n", line=2, column=0)
@example(code="a1\ud800b2", line=1, column=99)
def test_matches_the_regular_expression(bridge, code, line, column):
    assert bridge._get_word_prefix(code, line, column) == expected(code, line, column)


@pytest.mark.parametrize(
    "code, line, column, word",
    [
        ("x = 1\nfoo.ba  # rest", 2, 6, "ba"),
        ("x = my_var1", 1, 11, "my_var1"),
        ("__init", 1, 6, "__init"),
        ("obj.", 1, 4, ""),
        ("print(", 1, 6, ""),
        ("12ab3", 1, 5, "ab3"),
        ("123", 1, 3, ""),
        ("na\u00efve", 1, 5, "ve"),
        ("abc", 1, 0, ""),
        ("abc", 0, 3, ""),
        ("abc\n", 3, 0, ""),
        ("", 1, 0, ""),
        ("ab\r\ncd", 1, 3, ""),  # after the carriage return
        ("ab\r\ncd", 1, 2, "ab"),  # before it
        ("a\rb", 1, 3, "b"),  # a lone "\r" does not end a line
        ("hello world", 1, -6, "hello"),  # negative: all but the last 6 characters
        ("hello", 1, 10**30, "hello"),
    ],
)
def test_examples(bridge, code, line, column, word):
    result = bridge._get_word_prefix(code, line, column)
    assert result == word and type(result) is str


def test_last_of_many_lines(bridge):
    code = "x = 1\n" * 100_000 + "value.attr_9"
    assert bridge._get_word_prefix(code, 100_001, 12) == "attr_9"
    assert bridge._get_word_prefix(code, 100_002, 0) == ""
