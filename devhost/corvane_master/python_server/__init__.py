"""The host's Python server package; the compiled lsp_bridge module is built into this folder."""
