"""The one stand-in for jedi.Script and the objects it hands back, shared by the tests and the
soak: cheap enough for runs that call the bridge thousands of times (fuzzing, soak, thread
stress), and able to record what the bridge asks jedi.

Patch with `unittest.mock.patch.object(lsp_bridge.jedi, "Script", FakeScript)` (the tests use
`support.fake_jedi`); `script_with` or a subclass answers other objects."""
import time

from public_surface import JEDI_QUESTIONS


class FakeParam:
    def __init__(self, name, description):
        self.name = name
        self.description = description

    def to_string(self):
        return f"{self.name}: int"


class FakeSignature:
    def __init__(self, name="greet", params=(), index=0, doc="Say hello."):
        self.name = name
        self.params = list(params)
        self.index = index
        self._doc = doc

    def to_string(self):
        return f"{self.name}({', '.join(p.to_string() for p in self.params)}) -> str"

    def docstring(self, raw=False):
        return self._doc


class FakeName:
    """A completion, an inferred definition or a help result: jedi's Name interface."""

    def __init__(self, name, type_="function", full_name=None, description="def greet", doc="Doc.",
                 signatures=None):
        self.name = name
        self.type = type_
        self.full_name = full_name if full_name is not None else f"m.{name}"
        self.description = description
        self._doc = doc
        self._signatures = signatures if signatures is not None else [FakeSignature(name)]

    def get_signatures(self):
        return self._signatures

    def docstring(self):
        return self._doc


PARAMS = [FakeParam("name", "param name: str"), FakeParam("count", "")]
DEFAULT_ANSWERS = {
    "complete": [FakeName("greet", signatures=[FakeSignature("greet", PARAMS)]),
                 FakeName("Circle", "class", doc=""), FakeName("_hidden", "statement"),
                 FakeName("value", "instance", description="int")],
    "infer": [FakeName("greet", signatures=[FakeSignature("greet", PARAMS)]),
              FakeName("counter", "instance", full_name="", description="int", doc="")],
    "help": [FakeName("if", "keyword", description="keyword")],
    "get_signatures": [FakeSignature("greet", PARAMS, index=1)],
}


class FakeScript:
    """Accepts jedi.Script's keywords and answers each question from `answers`: a list, an
    exception to raise, or a function of the position returning the answer; a question missing
    from `answers` gets []. An exception under "Script" is raised by the construction instead.
    `pause` (seconds) lets other threads run inside a request, as real jedi would. A class made by
    `script_with` also records its constructions' keywords in `created` and the questions with
    their positions in `asked`."""

    answers = DEFAULT_ANSWERS
    pause = 0.0
    created = None
    asked = None

    def __init__(self, **kwargs):
        self.code = kwargs.get("code")
        self.path = kwargs.get("path")
        self.project = kwargs.get("project")
        if self.created is not None:
            self.created.append(dict(kwargs))
        if "Script" in self.answers:
            raise self.answers["Script"]

    def _answer(self, question, **position):
        if self.asked is not None:
            self.asked.append((question, position))
        if self.pause:
            time.sleep(self.pause)
        answer = self.answers.get(question, [])
        if isinstance(answer, BaseException):
            raise answer
        if callable(answer):
            return answer(**position)
        return list(answer) if isinstance(answer, list) else answer


def _question(name):
    def ask(self, **position):
        return self._answer(name, **position)

    ask.__name__, ask.__qualname__ = name, f"FakeScript.{name}"
    return ask


# One method for each question a request asks jedi (tools/public_surface.py).
for _name in JEDI_QUESTIONS:
    setattr(FakeScript, _name, _question(_name))


def script_with(**answers):
    """A FakeScript class that answers `answers` only and records what it is asked."""
    return type("FakeScript", (FakeScript,), {"answers": answers, "created": [], "asked": []})
