"""_format_signature: the parameter list and return annotation of a jedi signature, with a
fallback built from the parameters and "" as the last resort."""
import pytest


class Param:
    def __init__(self, text):
        self.text = text

    def to_string(self):
        if isinstance(self.text, BaseException):
            raise self.text
        return self.text


class Signature:
    """A jedi signature stand-in: `full` is what to_string() gives (or raises), `params` the
    parameter texts; either may be left out to make the attribute missing."""

    def __init__(self, full=None, params=None, *, no_to_string=False, no_params=False):
        self.full = full
        self._params = params or []
        self.no_to_string = no_to_string
        self.no_params = no_params

    def __getattribute__(self, name):
        if name == "to_string" and object.__getattribute__(self, "no_to_string"):
            raise AttributeError(name)
        if name == "params":
            if object.__getattribute__(self, "no_params"):
                raise AttributeError(name)
            return [Param(t) for t in object.__getattribute__(self, "_params")]
        return object.__getattribute__(self, name)

    def to_string(self):
        if isinstance(self.full, BaseException):
            raise self.full
        return self.full


class StrSubclass(str):
    pass


class Sliceable:
    """find() and slicing work, but the slice is no str."""

    def find(self, sub):
        return 0

    def __getitem__(self, item):
        return ["(", ")"]


@pytest.mark.parametrize(
    "signature, text",
    [
        (Signature("greet(name: str, count=1) -> str"), "(name: str, count=1) -> str"),
        (Signature("f()"), "()"),
        (Signature("no parenthesis"), "no parenthesis"),
        (Signature("wrap(fn=(1, 2)) -> int"), "(fn=(1, 2)) -> int"),
        (Signature("(x) -> y"), "(x) -> y"),
        (Signature(""), ""),
        # the fallback: no return annotation
        (Signature(params=["a", "b=2"], no_to_string=True), "(a, b=2)"),
        (Signature(None, ["a"]), "(a)"),  # None has no find()
        (Signature(TypeError("boom"), ["*args", "**kw"]), "(*args, **kw)"),
        (Signature(no_to_string=True), "()"),
        # a text that is not a str goes to the fallback through the str check
        (Signature(StrSubclass("no parenthesis"), ["a"]), "(a)"),
        (Signature(Sliceable(), ["a"]), "(a)"),
        # last resort
        (Signature(no_to_string=True, no_params=True), ""),
        (Signature(no_to_string=True, params=["a", AttributeError("x")]), ""),
        (Signature(no_to_string=True, params=["a", 3]), ""),  # ", ".join of an int: TypeError
        (object(), ""),
    ],
)
def test_format(bridge, signature, text):
    result = bridge._format_signature(signature)
    assert result == text and type(result) is str


def test_cut_keeps_a_str_subclass_slice_as_str(bridge):
    result = bridge._format_signature(Signature(StrSubclass("f(a)")))
    assert result == "(a)" and type(result) is str


@pytest.mark.parametrize(
    "signature",
    [
        Signature(ValueError("not absorbed")),
        Signature(no_to_string=True, params=[ValueError("not absorbed")]),
    ],
)
def test_other_failures_propagate(bridge, signature):
    with pytest.raises(ValueError, match="not absorbed"):
        bridge._format_signature(signature)


def test_real_jedi_signature(bridge, lsp):
    script = lsp.jedi.Script("def greet(name: str, count=1) -> str:\n    pass\ngreet(")
    (signature,) = script.get_signatures(3, 6)
    assert bridge._format_signature(signature) == "(name: str, count=1) -> str"
