"""Prompt-template composition with provenance, validation, verification and extraction.

The whole API lives in the extension module ``zelk_compose._native`` and is re-exported here,
so ``from zelk_compose import compose`` and ``zelk_compose._native.compose`` are the same
object. The main entry points:

- ``compose(request)`` / ``compose_file(request)``: the final prompt text of a ``ComposeRequest``
  with its provenance (``ComposeResult``: resolved files, variable sources, warnings, SHA-256).
- ``validate(request)``: the diagnostics of a request without rendering (``ValidationReport``).
- ``verify(request, deployed_path)``: a deployed file against a fresh composition, with a
  unified diff when they differ (``VerifyResult``).
- ``render_all(parsed, contexts)``: the passes of a parsed template with caller-supplied contexts.
- ``expand_includes``, ``resolve_template_path``, ``resolve_profile``: the single stages.
- ``extract_variables``: variable values recovered from a rendered document.

Every failure is a ``ZelkComposeError`` subclass carrying ``message`` and ``code``.
"""

from zelk_compose import _native
from zelk_compose._native import *  # noqa: F401,F403 - the extension module is the API

__all__ = sorted(name for name in dir(_native) if not name.startswith("_"))
