"""The four requests on generated code: random text, a soup of Python tokens, mutated windows of
the standard library's sources, and hand-made hostile texts (lone surrogates, NUL, "\\r" line
ends, a 1 MB line, deep nesting), with positions inside and outside the text. Every answer must
have exactly its result keys, `error` None or a non-empty str, and records with their keys.

Diagnostics need no jedi and always run for real; the jedi requests run on fake jedi for many
examples and on real jedi for a smaller sample and for every hand-made text."""
import pytest
from hypothesis import given, strategies as st

from support import LONG_RUN, fake_bridge, fuzz_settings, surface
from support.hostile_values import any_text

# tools/, on the path through support
from answer_shapes import JEDI_REQUESTS, REQUESTS, check_answer
from fuzz_corpus import SPECIAL, mutated_window, token_soup

# ast.parse warns about odd escapes and literals in generated code; that is the parser's business.
pytestmark = [pytest.mark.filterwarnings("ignore:invalid escape sequence"),
              pytest.mark.filterwarnings("ignore::SyntaxWarning")]

seeds = st.integers(0, 2**32 - 1)
codes = st.one_of(
    st.text(st.characters(blacklist_categories=()), max_size=300),
    st.builds(token_soup, seeds, st.integers(0, 80)),
    st.builds(mutated_window, seeds, st.just(LONG_RUN)),
    st.sampled_from(sorted(SPECIAL.values(), key=len)[:12]),
)
module_names = st.sampled_from(["mod", "shapes", "utils", "naïve", "名前", "pkg.mod", "../up", "a b", ""])
paths = st.one_of(st.none(), module_names, st.sampled_from(["<stdin>", "/tmp/nowhere/x.py", "C:\\x.py"]), any_text)


@st.composite
def positions(draw, code):
    lines = code.split("\n")
    line = draw(st.one_of(st.integers(-2, len(lines) + 2), st.integers(), st.just(2**64)))
    width = len(lines[min(max(line, 1), len(lines)) - 1])
    column = draw(st.one_of(st.integers(-2, width + 2), st.integers(), st.just(2**64)))
    return line, column


# A value for each parameter after the code and the position, by name.
OTHER_ARGUMENTS = {
    "path": paths,
    "modules": st.one_of(st.none(), st.dictionaries(module_names, codes.map(lambda c: c[:2000]), max_size=3)),
    "dirty_files": st.one_of(st.none(), st.dictionaries(module_names, any_text, max_size=2)),
    "module_name": st.one_of(st.none(), module_names),
}


@st.composite
def requests(draw, methods=REQUESTS, small=False):
    method = draw(st.sampled_from(methods))
    code = draw(codes)
    if small:
        code = code[:3000]
    values = {"code": code}
    names = surface.param_names(method)
    if "line" in names:
        values["line"], values["column"] = draw(positions(code))
    values.update((name, draw(OTHER_ARGUMENTS[name])) for name in names if name not in values)
    options = {"mode": draw(st.sampled_from(["compact", "detailed"]))} if method in JEDI_REQUESTS else {}
    return method, tuple(values[name] for name in names), options


def ask(bridge, request):
    method, args, options = request
    mode = options.get("mode")
    if mode:
        bridge.set_hover_mode(mode)
    try:
        result = getattr(bridge, method)(*args)
    finally:
        bridge.set_hover_mode("compact")
    check_answer(method, result, strict=True)
    return result


@fuzz_settings(600)
@given(request=requests(methods=tuple(m for m in REQUESTS if m not in JEDI_REQUESTS)))
def test_diagnostics(bridge, request):
    ask(bridge, request)


@fuzz_settings(400)
@given(batch=st.lists(requests(methods=JEDI_REQUESTS), min_size=1, max_size=4))
def test_jedi_requests_on_fake_jedi(lsp, batch):
    with fake_bridge(lsp) as bridge:
        for request in batch:
            ask(bridge, request)


@fuzz_settings(120)
@given(request=requests(methods=JEDI_REQUESTS, small=True))
def test_jedi_requests_on_real_jedi(bridge, request):
    ask(bridge, request)


@pytest.mark.parametrize("name", sorted(SPECIAL))
def test_hand_made_texts_on_real_jedi(bridge, name):
    code = SPECIAL[name]
    lines = code.split("\n")
    for line, column in [(len(lines), len(lines[-1])), (1, 5), (len(lines) // 2 + 1, 3), (len(lines) + 2, 0)]:
        for method in REQUESTS:
            args = surface.call_args(method, code=code, line=line, column=column, path="mod", modules={"mod": code[:5000]})
            ask(bridge, (method, args, {"mode": "detailed"}))


@pytest.mark.parametrize("name, error", [
    ("lone surrogates", "surrogates not allowed"),
    ("nul", "null"),
])
def test_texts_the_parser_refuses_give_an_error_result(bridge, name, error):
    # Not a syntax error but a refusal of the text itself: the failure answer, not a marker.
    result = ask(bridge, ("get_diagnostics", (SPECIAL[name],), {}))
    assert result["diagnostics"] == [] and error in result["error"]
