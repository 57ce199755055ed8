"""Helpers for Corvane notebooks: datasets, parameters, secrets, outputs and jobs.

The ``corvane`` module is provided by the notebook runtime; this stub only
describes it for the editor.
"""
from datetime import datetime
from typing import Any, Callable, Dict, Iterator, List, Mapping, Optional, Sequence, Union

__version__: str

DEFAULT_CHUNK_SIZE: int
"""Rows fetched per request when a dataset is streamed."""

MAX_OUTPUT_ROWS: int
"""Largest table a cell output shows before it is truncated."""

WORKSPACE_ROOT: str
"""Absolute path of the notebook's workspace folder."""

class Dataset:
    """A versioned table registered in the workspace."""

    name: str
    version: int
    columns: List[str]
    created_at: datetime

    def __len__(self) -> int: ...
    def head(self, n: int = 5) -> List[Dict[str, Any]]:
        """Return the first ``n`` rows as dictionaries."""
    def to_pandas(self, columns: Optional[Sequence[str]] = None) -> Any:
        """Load the dataset (or just ``columns``) into a pandas DataFrame."""
    def iter_chunks(self, size: int = ...) -> Iterator[List[Dict[str, Any]]]:
        """Stream the rows in chunks of ``size``."""
    def describe(self) -> Dict[str, Dict[str, float]]:
        """Summary statistics (count, mean, min, max) per numeric column."""

class Run:
    """One execution of a notebook, used to record parameters and metrics."""

    id: str
    started_at: datetime
    finished_at: Optional[datetime]

    def log_metric(self, key: str, value: float, *, step: Optional[int] = None) -> None:
        """Record a metric value, optionally at a training step."""
    def log_param(self, key: str, value: Union[str, int, float, bool]) -> None:
        """Record a parameter of this run."""
    def finish(self, status: str = "completed") -> None:
        """Mark the run as finished."""

class Job:
    """A notebook scheduled to run in the background."""

    id: str
    notebook: str
    status: str

    def wait(self, timeout: Optional[float] = None) -> str:
        """Block until the job ends or ``timeout`` seconds pass; return its status."""
    def cancel(self) -> bool:
        """Ask the scheduler to stop the job; return True if it was still running."""
    def logs(self, tail: int = 100) -> List[str]:
        """The last ``tail`` lines the job printed."""

def load_dataset(name: str, *, version: Optional[int] = None) -> Dataset:
    """Load a dataset registered in the workspace (the latest version by default)."""

def list_datasets(prefix: str = "") -> List[str]:
    """Names of the workspace's datasets, optionally only those starting with ``prefix``."""

def save_dataset(name: str, data: Any, *, description: str = "", overwrite: bool = False) -> Dataset:
    """Register ``data`` (a DataFrame or a list of row dictionaries) as a new dataset version."""

def get_parameter(name: str, default: Optional[str] = None) -> Optional[str]:
    """Read a notebook parameter set by the caller or the scheduler."""

def get_secret(name: str) -> str:
    """Read a secret from the workspace vault; raises KeyError if it is not set."""

def display_table(rows: Sequence[Mapping[str, Any]], *, title: Optional[str] = None, max_rows: int = ...) -> None:
    """Show rows as an interactive table in the cell output."""

def display_chart(data: Any, kind: str = "line", *, x: Optional[str] = None, y: Optional[Union[str, List[str]]] = None) -> None:
    """Draw a chart of ``data`` in the cell output."""

def start_run(name: Optional[str] = None, *, tags: Optional[Dict[str, str]] = None) -> Run:
    """Start recording a run of this notebook."""

def current_run() -> Optional[Run]:
    """The run started by ``start_run`` in this session, if any."""

def schedule_notebook(path: str, *, cron: Optional[str] = None, parameters: Optional[Dict[str, str]] = None) -> Job:
    """Run another notebook in the background, once or on a cron schedule."""

def cached(ttl: Optional[float] = None) -> Callable[[Callable[..., Any]], Callable[..., Any]]:
    """Decorator caching a function's result for ``ttl`` seconds across cell runs."""

def workspace_path(*parts: str) -> str:
    """Join ``parts`` onto the workspace root."""
