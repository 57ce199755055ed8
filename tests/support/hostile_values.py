"""Values of every kind for argument fuzzing: ints of any size, floats with NaN and infinities,
complex numbers, str/bytes, containers and their subclasses, and objects whose __index__,
__int__, __eq__, __str__ or __format__ raise or lie."""
import collections

from hypothesis import strategies as st


class Boom(Exception):
    """Raised by the hostile objects below, so a test can tell their failures from the module's."""


def _boom(*args):
    raise Boom("boom")


class RaisingIndex:
    __index__ = _boom


class RaisingInt:
    __int__ = _boom


class RaisingFloat:
    __float__ = _boom


class RaisingEq:
    __eq__ = _boom
    __hash__ = object.__hash__

    def __repr__(self):
        return "RaisingEq()"


class RaisingStr:
    __str__ = __format__ = _boom

    def __repr__(self):  # hypothesis must still be able to show it
        return "RaisingStr()"


class IntReturnsBool:
    def __int__(self):
        return True


class StrSub(str):
    pass


class LyingStr(str):
    """Says it contains nothing and equals nothing."""

    def __contains__(self, item):
        return False

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class FormatsAs:
    """A dict key whose format() gives `text` (possibly a LyingStr)."""

    def __init__(self, text):
        self.text = text

    def __format__(self, spec):
        return self.text


class DictSub(dict):
    pass


class ListSub(list):
    pass


class IntSub(int):
    pass


class FloatSub(float):
    pass


ODD_OBJECTS = (RaisingIndex(), RaisingInt(), RaisingFloat(), RaisingEq(), RaisingStr(), IntReturnsBool(),
               object(), Ellipsis, NotImplemented, type, len, 1j, float("nan"), float("inf"), -float("inf"),
               FormatsAs("../escape"), FormatsAs(LyingStr("../escape")))

any_text = st.text(st.characters(blacklist_categories=()), max_size=30)
texts = st.one_of(any_text, st.sampled_from(["", "x", "os", "a.b", "import os\nos.", "compact", "detailed",
                                             "<editor>", "../x", "/tmp/x.py", "x\x00y", "\ud800", "名前"]))
ints = st.one_of(st.integers(-3, 12), st.integers(), st.sampled_from([2**63, -(2**63) - 1, 2**64, 10**100]))
scalars = st.one_of(
    st.none(), st.booleans(), ints, st.floats(), st.complex_numbers(), texts, st.binary(max_size=8),
    st.builds(StrSub, any_text), st.builds(LyingStr, texts), st.builds(IntSub, ints), st.builds(FloatSub, st.floats()),
    st.sampled_from(ODD_OBJECTS),
)
keys = st.one_of(texts, ints, st.none(), st.builds(StrSub, texts), st.sampled_from(ODD_OBJECTS[3:5] + ODD_OBJECTS[-2:]))
values = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4), st.builds(ListSub, st.lists(inner, max_size=3)),
        st.dictionaries(keys, inner, max_size=4), st.builds(DictSub, st.dictionaries(texts, inner, max_size=3)),
        st.builds(collections.OrderedDict, st.dictionaries(texts, inner, max_size=3)),
        st.tuples(inner, inner),
    ),
    max_leaves=8,
)
# What a typed parameter would accept, so that most calls get past the boundary.
module_dicts = st.dictionaries(st.one_of(texts, keys), st.one_of(texts, values), max_size=4)
FITTING = {
    "str": texts,
    "int": ints,
    "dict": module_dicts,
    "list": st.lists(st.one_of(texts, values), max_size=4),
    "untyped": values,
}
