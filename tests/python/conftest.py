"""What the Python package's tests share: the installed package, the reference service on a
loopback port with the tests' places, and a listener that never answers.

The CTest runner (python_tests.cmake) installs the kit into a scratch prefix and sets
TOVIK_PREFIX, TOVIK_SOURCE_DIR and TOVIK_SERVICE_BINARY."""

import os
import pathlib
import socket
import subprocess
import time
import urllib.request

import pytest

PREFIX = pathlib.Path(os.environ["TOVIK_PREFIX"])
SOURCE = pathlib.Path(os.environ["TOVIK_SOURCE_DIR"])
DATA = pathlib.Path(__file__).parent / "data"
KEY = "demo"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.fixture(scope="session")
def service(tmp_path_factory):
    """The base address of tovik-service answering from the tests' 57 places, key "demo" only."""
    binary = os.environ["TOVIK_SERVICE_BINARY"]
    work = tmp_path_factory.mktemp("service")
    fixture = SOURCE / "tests/server/fixture"
    subprocess.run([binary, "import", "--input", fixture / "cities.json", "--countries", fixture / "countries.json",
                    "--provinces", fixture / "provinces.json", "--db", work / "places.sqlite"],
                   check=True, capture_output=True)
    (work / "keys").write_text(KEY + "\n")
    port = free_port()
    process = subprocess.Popen([binary, "serve", "--db", work / "places.sqlite", "--port", str(port), "--keys",
                                work / "keys"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    url = f"http://127.0.0.1:{port}"
    try:
        for _ in range(500):
            try:
                urllib.request.urlopen(url + "/healthz", timeout=1).close()
                break
            except OSError:
                assert process.poll() is None, "tovik-service ended at start"
                time.sleep(0.02)
        else:
            pytest.fail("tovik-service did not become healthy")
        yield url
    finally:
        process.terminate()
        process.wait(10)


@pytest.fixture
def silent():
    """The address of a listener that takes connections into its backlog and never answers."""
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        yield f"http://127.0.0.1:{listener.getsockname()[1]}"
