"""Logging set-up as the host provides it to its Python server modules."""
import logging
import sys

LOG_FORMAT = "%(asctime)s %(levelname)s %(name)s [%(threadName)s] %(message)s"

# Marks the handler we installed, so a second call does not add another.
_HANDLER_NAME = "corvane_master.stderr"


def get_logger(name):
    """Return the logger for ``name`` (a plain ``logging`` logger)."""
    return logging.getLogger(name)


def setup_logging_subprocess(level=logging.INFO):
    """Send log records of this process to stderr. Safe to call repeatedly."""
    root = logging.getLogger()
    root.setLevel(level)
    for handler in root.handlers:
        if handler.get_name() == _HANDLER_NAME:
            handler.setLevel(level)
            return handler
    handler = logging.StreamHandler(sys.stderr)
    handler.set_name(_HANDLER_NAME)
    handler.setLevel(level)
    handler.setFormatter(logging.Formatter(LOG_FORMAT))
    root.addHandler(handler)
    return handler
