"""The Wine prefix: a private one, created once and reused, and a wineserver that stays up
for a whole run. Wine's own services (services.exe, explorer.exe, ...) live as long as the
server and keep the standard error of the process that started them, so they are started
here on /dev/null rather than by a test, whose output pipe a test runner would wait on.

    env = start_server("build/wine", x.env)   # then run wine programs with env
    stop_server(env)
"""

import os
import subprocess
from typing import Optional

from harness.process import SessionError


def prefix_env(prefix: str, env: dict) -> dict:
    return dict(env, WINEPREFIX=os.path.abspath(prefix), WINEARCH="win64", WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=")


def start_server(prefix: str, env: dict, logs: Optional[str] = None) -> dict:
    """Creates the prefix if it is missing, starts a persistent wineserver for it and warms
    Wine up; returns the environment to run Wine programs with."""
    env = prefix_env(prefix, env)
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 env=env)
    if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        print(f"wine: creating the prefix {env['WINEPREFIX']}", flush=True)
        os.makedirs(env["WINEPREFIX"], exist_ok=True)
        log = open(os.path.join(logs, "wineboot.log"), "w") if logs else subprocess.DEVNULL
        if subprocess.call(["wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=log,
                           stderr=log, env=env) != 0:
            raise SessionError(f"wineboot could not create {env['WINEPREFIX']}")
        subprocess.call(["wineserver", "-w"], **quiet)
    subprocess.call(["wineserver", "-p"], **quiet)
    subprocess.call(["wine", "cmd", "/c", "exit"], timeout=120, **quiet)
    return env


def stop_server(env: dict):
    """Ends the prefix's wineserver and its processes, and waits until they have gone."""
    for option in ("-k", "-w"):
        subprocess.call(["wineserver", option], stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
