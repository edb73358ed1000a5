"""What the fake programs share: a record of every start, and the
misbehaviour a test asks of them through the environment.

With FAKE_LOG set, each start appends one JSON line to that file: the
argument list, the role of the call (such as "pytest", "install" or
"container"), the pid and kernel start time (so that a test can tell whether
the process still exists), the descriptors inherited beyond 0, 1 and 2, and
PYTHONPATH. A normal end appends a second line with the pid and the time.

FAKE_<ROLE>_<WHAT>, with the role upper-cased and "-" read as "_", makes
the calls of that role do, after the program's own answer and in this order:
  OUT, ERR     write the text to standard output or error (surrogate escapes
               stand for undecodable bytes)
  FLOOD        write runs of bytes, such as "err:5242880,out:20971520":
               "o" on standard output, "e" on standard error
  PLAN         write 1 MiB to each stream in random chunks and end with the
               status the seed given plans (stress_plan.py)
  SLEEP        sleep so many seconds
  SPAWN        leave a process of its own behind, playing the role "grandchild"
  HANG         sleep until a signal ends it; "deaf": ignoring SIGINT and SIGTERM
  REMOVE_SELF  remove its own program file
  SIGNAL       kill itself with the named signal (KILL, SEGV, ...)
  RC           end with this status (0 when unset)
"""

from __future__ import annotations

import json
import os
import signal
import sys
import time

HOME = os.path.dirname(os.path.realpath(__file__))


def _inherited() -> list[list]:
    found = []
    for entry in os.listdir("/proc/self/fd"):
        if int(entry) > 2:
            try:
                found.append([int(entry), os.readlink(f"/proc/self/fd/{entry}")])
            except OSError:
                pass  # the descriptor of the listing itself, closed again
    return found


def _log(record: dict) -> None:
    log = os.environ.get("FAKE_LOG")
    if log:
        fd = os.open(log, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, (json.dumps(record) + "\n").encode())  # one write: lines of concurrent calls stay whole
        finally:
            os.close(fd)


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


class Call:
    """A call playing `role`, recorded as it is made; `finish` ends the process."""

    def __init__(self, role: str) -> None:
        self.role = role
        self.key = "FAKE_" + role.upper().replace("-", "_") + "_"
        self.status = int(self.get("RC") or 0)
        with open("/proc/self/stat") as stat:
            start_time = stat.read().rsplit(")", 1)[1].split()[19]
        _log({"pid": os.getpid(), "start_time": start_time, "argv": sys.argv, "role": role,
              "inherited": _inherited(), "hang": bool(self.get("HANG")),
              "pythonpath": os.environ.get("PYTHONPATH"), "start": time.time()})

    def get(self, what: str) -> str | None:
        return os.environ.get(self.key + what)

    def finish(self) -> None:
        sys.stdout.flush()
        for fd, what in ((1, "OUT"), (2, "ERR")):
            text = self.get(what)
            if text:
                _write_all(fd, os.fsencode(text))
        for run in filter(None, (self.get("FLOOD") or "").split(",")):
            stream, size = run.split(":")
            fd, fill = (1, b"o") if stream == "out" else (2, b"e")
            _write_all(fd, fill * int(size))
        if self.get("PLAN"):
            self.status = self._follow_plan(self.get("PLAN"))
        time.sleep(float(self.get("SLEEP") or 0))
        if self.get("SPAWN") and os.fork() == 0:
            Call("grandchild").finish()
        if self.get("HANG"):
            if self.get("HANG") == "deaf":
                signal.signal(signal.SIGINT, signal.SIG_IGN)
                signal.signal(signal.SIGTERM, signal.SIG_IGN)
            try:
                time.sleep(120)
            except KeyboardInterrupt:
                sys.exit(2)  # as pytest ends on Ctrl-C
        if self.get("REMOVE_SELF"):
            os.unlink(sys.argv[0])
        if self.get("SIGNAL"):
            os.kill(os.getpid(), signal.Signals["SIG" + self.get("SIGNAL")])
            time.sleep(5)
        _log({"pid": os.getpid(), "end": time.time()})
        sys.exit(self.status)

    def _follow_plan(self, seed: str) -> int:
        from stress_plan import plan  # beside this file, as the program's own directory is on sys.path

        texts, code, steps = plan(seed, self.role)
        for fd, begin, end, pause in steps:
            if pause:
                time.sleep(pause)
            _write_all(fd, memoryview(texts[fd])[begin:end])
        return code
