"""Development stand-in for the host package that embeds lsp_bridge."""
