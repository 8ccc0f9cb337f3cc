"""The `lexaro` command line (also `python -m lexaro`)."""
from .main import main

__all__ = ["main"]
