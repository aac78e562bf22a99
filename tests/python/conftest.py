"""The emulator as COM1 in a private registry (COM9 names a device that is
not there), for the whole session; the driver starts VarnSrv on demand."""

import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pytest

TREE = pathlib.Path(__file__).resolve().parents[2]
BIN = pathlib.Path(os.environ.get("VARN_BUILD_BIN", TREE / "build" / "default" / "bin"))
os.environ.setdefault("VARN_LIBRARY", str(BIN / "libvarn.so"))
sys.path.insert(0, str(TREE / "python"))

PATIENCE = 20  # seconds; CI is a loaded 2-core machine


def wait_for(done):
    until = time.monotonic() + PATIENCE
    while not done():
        if time.monotonic() > until:
            return False
        time.sleep(0.01)
    return True


@pytest.fixture(scope="session")
def emulator():
    folder = pathlib.Path(tempfile.mkdtemp(prefix="varn-py-"))
    (folder / "run").mkdir(mode=0o700)
    registry = folder / "registry.reg"
    registry.write_text(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Сервер\\Ports]\n"
        f'"COM9"="{folder}/no-such-tty"\n', encoding="utf-8")
    os.environ.update(VARN_REGISTRY=str(registry), VARN_LOG_DIR=str(folder),
                      VARN_RUNTIME_DIR=str(folder / "run"))
    paper = folder / "paper.txt"
    emu = subprocess.Popen([str(BIN / "varn-emu"), "--com", "1", "--paper", str(paper)])
    try:
        assert wait_for(lambda: '"COM1"' in registry.read_text(encoding="utf-8")), \
            "the emulator did not register COM1"
        yield paper
    finally:
        emu.send_signal(signal.SIGTERM)
        emu.wait(timeout=PATIENCE)
        # VarnSrv, started for the driver, ends with its last object.
        wait_for(lambda: not (folder / "run" / "VarnSrv.sock").exists())
        shutil.rmtree(folder, ignore_errors=True)


def paper_with(paper, text):
    """The paper once it holds `text` (the emulator appends as it prints)."""
    wait_for(lambda: paper.exists() and text in paper.read_text(encoding="utf-8"))
    return paper.read_text(encoding="utf-8")
