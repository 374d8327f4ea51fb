"""The environment of a Wine session that scripts/wine-session started: the
variables it wrote to STATE/env (prefix, architecture, display, and the
PATH that finds the session's wine), for the test tiers that run Windows
programs from Python (end-to-end, load)."""
import os
import shlex
from pathlib import Path


def session_environment(state, **overrides):
    """os.environ with the session's variables, then the overrides."""
    env = dict(os.environ)
    for line in (Path(state) / "env").read_text().splitlines():
        for word in shlex.split(line)[1:]:   # export NAME=value ...
            name, _, value = word.partition("=")
            env[name] = value
    env.update(overrides)
    return env
