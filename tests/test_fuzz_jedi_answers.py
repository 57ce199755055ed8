"""The jedi requests when jedi hands back hostile objects: attributes missing, of any type, or
raising ordinary exceptions; signature and parameter lists that are not lists; docstrings that
are not text. Every request still answers with a well-formed result and never raises."""
from hypothesis import given, strategies as st

from support import FakeScript, fake_bridge, fuzz_settings, surface
from support.hostile_values import Boom, values

# tools/, on the path through support
from answer_shapes import JEDI_REQUESTS, check_answer

FAILURES = st.sampled_from([Boom("boom"), AttributeError("gone"), TypeError("bad type"), ValueError("bad value"),
                            MemoryError(), RecursionError("deep"), KeyError("k"), OSError(5, "io")])
ATTRIBUTES = {
    "name": st.one_of(st.sampled_from(["greet", "_hidden", "", "__init__", "名前"]), values),
    "type": st.one_of(st.sampled_from(["function", "class", "module", "instance", "keyword", "path", "Function"]),
                      values),
    "full_name": st.one_of(st.sampled_from(["m.greet", "", None]), values),
    "description": st.one_of(st.sampled_from(["int", "", None, "def greet"]), values),
    "index": st.one_of(st.none(), st.integers(-2, 5), values),
}


def raising(exc):
    def raise_it(*args, **kwargs):
        raise exc

    return raise_it


def returning(value):
    return lambda *args, **kwargs: value


@st.composite
def hostile(draw, depth=0):
    """A jedi Name/Signature/Param look-alike, every part of it drawn."""
    attrs = {}
    for name, strategy in ATTRIBUTES.items():
        choice = draw(st.integers(0, 5))
        if choice == 1:
            attrs[name] = property(raising(draw(FAILURES)))
        elif choice > 1:
            attrs[name] = draw(strategy)
    children = st.lists(hostile(depth + 1), max_size=3) if depth < 2 else st.just([])
    for method, results in (("get_signatures", children), ("docstring", st.one_of(st.text(max_size=20), values)),
                            ("to_string", st.one_of(st.sampled_from(["f(a, b=1) -> int", "no parens", "(x)"]),
                                                    values))):
        choice = draw(st.integers(0, 5))
        if choice == 1:
            attrs[method] = raising(draw(FAILURES))
        elif choice > 1:
            attrs[method] = returning(draw(results))
    if draw(st.integers(0, 3)):
        attrs["params"] = draw(st.one_of(children, values))
    return type("Hostile", (), attrs)()


answers = st.one_of(st.lists(hostile(), max_size=4), values)


@fuzz_settings(500)
@given(method=st.sampled_from(JEDI_REQUESTS), answer=answers, mode=st.sampled_from(["compact", "detailed"]),
       fails=st.one_of(st.none(), FAILURES))
def test_hostile_jedi_answers_still_give_well_formed_results(lsp, method, answer, mode, fails):
    # its first question fails or answers the drawn value; the later ones answer it
    first, *later = surface.jedi_questions(method)
    questions = {q: returning(answer) for q in later}
    questions[first] = raising(fails) if fails is not None else returning(answer)
    script = type("HostileScript", (FakeScript,), questions)
    with fake_bridge(lsp, script) as bridge:
        bridge.set_hover_mode(mode)
        check_answer(method, getattr(bridge, method)(*surface.call_args(method, code="greet(", line=1, column=6)))
