"""The Wine prefix: a private one, created once and reused, and a wineserver that stays up
for a whole run. Wine's own services (services.exe, explorer.exe, ...) live as long as the
server and keep the standard error of the process that started them, so they are started
here on /dev/null rather than by a test, whose output pipe a test runner would wait on.

    env = start_server("build/wine", x.env)   # then run wine programs with env
    stop_server(env)
"""

import os
import shutil
import subprocess
import tempfile
from typing import Optional, Sequence, Tuple

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


class Desktop:
    """Wine's own desktop `name` of `size`, in which run(exe) starts a program as Wine starts
    it from a shell, standard output and all. Wine 10 starts the program that
    `explorer /desktop=...` is given on a console window of its own, where its output no
    longer reaches the harness; Wine's per-program setting of a desktop does not. The setting
    is made for a copy of each program named after the desktop, so no other test's process
    comes into it; close() removes the copies and the settings.

        with Desktop(["wine"], env, "clickburst-1", (1000, 700)) as desktop:
            argv = desktop.run(receiver_exe)
    """

    def __init__(self, emulator: Sequence[str], env: dict, name: str, size: Tuple[int, int]):
        self.emulator, self.env, self.name = list(emulator), env, name
        self._folder = tempfile.mkdtemp(prefix=f"{name}-")
        self._programs = []
        self._reg("add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", name,
                  "/d", "%dx%d" % size)

    def run(self, exe: str) -> list:
        copy = os.path.join(self._folder, f"{self.name}-{os.path.basename(exe)}")
        shutil.copyfile(exe, copy)
        self._programs.append(os.path.basename(copy))
        self._reg("add", rf"HKCU\Software\Wine\AppDefaults\{self._programs[-1]}\Explorer",
                  "/v", "Desktop", "/d", self.name)
        return [*self.emulator, copy]

    def close(self):
        for program in self._programs:
            self._reg("delete", rf"HKCU\Software\Wine\AppDefaults\{program}")
        self._reg("delete", r"HKCU\Software\Wine\Explorer\Desktops", "/v", self.name)
        shutil.rmtree(self._folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def _reg(self, *args: str):
        subprocess.call([*self.emulator, "reg", *args, "/f"], stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env,
                        timeout=60)
