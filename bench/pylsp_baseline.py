"""python-lsp-server's own plugin functions, driven in-process on the same documents.

The Config, Workspace and Document are built by hand, as pylsp's server would build them at
initialisation and on didOpen/didChange; each request first puts the new text into the
workspace (what a didChange does), then calls the plugin function. Under the 3.9 interpreter
pylsp's plugin entry points do not load, so Config has no plugin-reported settings; the four
plugins used here read only their in-code defaults then (the plugins that report settings,
rope, preload, pylint and flake8, do not take part), which are also what a stock server uses.

Positions: pylsp takes 0-based lines and characters, the bridge 1-based lines.
"""
import os

from pylsp import uris
from pylsp.config.config import Config
from pylsp.plugins import hover, jedi_completion, pyflakes_lint, signature
from pylsp.workspace import Workspace


class _Endpoint:
    """Swallows the progress notifications the lint plugin sends to the client."""

    def notify(self, *args, **kwargs):
        pass

    def request(self, *args, **kwargs):
        pass


class Pylsp:
    def __init__(self, root, extra_paths=(), eager=False):
        root_uri = uris.from_fs_path(root)
        self.config = Config(root_uri, {}, 0, {})
        plugins = {"jedi_completion": {"eager": eager}}
        if extra_paths:
            plugins["jedi"] = {"extra_paths": list(extra_paths)}
        self.config.update({"plugins": plugins})
        self.workspace = Workspace(root_uri, _Endpoint(), self.config)
        self.uri = uris.from_fs_path(os.path.join(root, "__pylsp_editor__.py"))

    def document(self, code):
        self.workspace.put_document(self.uri, code)
        return self.workspace.get_document(self.uri)

    def completions(self, code, line, column):
        return jedi_completion.pylsp_completions(self.config, self.document(code),
                                                 {"line": line - 1, "character": column})

    def hover(self, code, line, column):
        return hover.pylsp_hover(self.config, self.document(code), {"line": line - 1, "character": column})

    def signature_help(self, code, line, column):
        return signature.pylsp_signature_help(self.config, self.document(code),
                                              {"line": line - 1, "character": column})

    def lint(self, code):
        return pyflakes_lint.pylsp_lint(self.workspace, self.document(code))

    def open_modules(self, modules):
        """pylsp's counterpart of a sync: every module opened as an in-memory document."""
        for name, text in modules.items():
            self.workspace.put_document(uris.from_fs_path(os.path.join(self.workspace.root_path, name + ".py")), text)
