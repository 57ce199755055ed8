"""Cheap stand-ins for jedi.Script and the objects it hands back, for runs that call the bridge
thousands of times (fuzzing, soak, thread stress) where real jedi would take seconds per call.

Patch with `unittest.mock.patch.object(lsp_bridge.jedi, "Script", FakeScript)`; a subclass
can override `answers` to return other objects."""
import time


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
    """Accepts jedi.Script's keywords and answers every question from `answers` at once.
    `pause` (seconds) lets other threads run inside a request, as real jedi would."""

    answers = DEFAULT_ANSWERS
    pause = 0.0

    def __init__(self, code=None, path=None, project=None, **kwargs):
        self.code = code
        self.path = path
        self.project = project

    def _answer(self, what):
        if self.pause:
            time.sleep(self.pause)
        return list(self.answers[what])

    def complete(self, line=None, column=None):
        return self._answer("complete")

    def infer(self, line=None, column=None):
        return self._answer("infer")

    def help(self, line=None, column=None):
        return self._answer("help")

    def get_signatures(self, line=None, column=None):
        return self._answer("get_signatures")


def script_with(**answers):
    """A FakeScript class whose answers are `answers` over the defaults."""
    return type("FakeScript", (FakeScript,), {"answers": dict(DEFAULT_ANSWERS, **answers)})
