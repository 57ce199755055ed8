"""Maps URL paths to files under a few fixed folders, refusing anything outside them."""

import os
import posixpath
from urllib.parse import unquote

CONTENT_TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".mjs": "text/javascript; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".json": "application/json",
    ".map": "application/json",
    ".svg": "image/svg+xml",
    ".png": "image/png",
    ".ttf": "font/ttf",
    ".woff": "font/woff",
    ".woff2": "font/woff2",
    ".py": "text/plain; charset=utf-8",
}


class StaticError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


class StaticFiles:
    """`mounts` is a list of (URL prefix ending in "/", folder); the first match wins."""

    def __init__(self, mounts, index="index.html"):
        self._mounts = [(prefix, os.path.realpath(folder)) for prefix, folder in mounts]
        self._index = index

    def resolve(self, url_path):
        """Return (file path, content type) for a URL path, or raise StaticError."""
        try:
            path = unquote(url_path.split("?", 1)[0].split("#", 1)[0], errors="strict")
        except UnicodeDecodeError:
            raise StaticError(400, "path is not UTF-8") from None
        # Checked after decoding so "%2e%2e" and "%2f" count like their plain forms.
        if "\x00" in path or "\\" in path:
            raise StaticError(403, "forbidden path")
        for prefix, root in self._mounts:
            if path.startswith(prefix):
                return self._resolve_in(root, path[len(prefix):])
        raise StaticError(404, "not found")

    def _resolve_in(self, root, rest):
        if rest == "":
            rest = self._index
        parts = rest.split("/")
        # An empty first part means an absolute path ("//etc/passwd").
        if any(part in ("", ".", "..") for part in parts):
            raise StaticError(403, "forbidden path")
        candidate = os.path.realpath(os.path.join(root, *parts))
        # realpath follows symlinks, so a link that points out of the folder lands here too.
        if os.path.commonpath([root, candidate]) != root:
            raise StaticError(403, "forbidden path")
        if not os.path.isfile(candidate):
            raise StaticError(404, "not found")
        ext = posixpath.splitext(candidate)[1].lower()
        return candidate, CONTENT_TYPES.get(ext, "application/octet-stream")
