"""tovik.Client against the real tovik-service on a loopback port: every call blocking and on
asyncio with the same outcomes, refusals with the kit's messages, time-outs that give a call up,
an asyncio loop that sleeps until the kit has work, the main-queue thread, and a location
session from a recorded log."""

import asyncio
import json
import subprocess
import sys
import threading

import pytest
import tovik

from conftest import DATA, KEY, PREFIX, SOURCE, free_port

CALLS = json.loads((DATA / "service_calls.json").read_text())


def client_for(row, service):
    settings = {"key": KEY, "agree": True, "service": service, **row.get("client", {})}
    if settings["service"] == "closed":
        settings["service"] = f"http://127.0.0.1:{free_port()}"
    return tovik.Client(**settings)


def part(result, path):
    for step in filter(None, path.split(".")):
        result = result[int(step)] if isinstance(result, list) else result[step]
    return result


def call(client, row, run):
    method = getattr(client, row["call"] + ("_async" if run == "async" else ""))
    outcome = method(*row["args"], **row.get("kwargs", {}), timeout=40)
    return asyncio.run(outcome) if run == "async" else outcome


@pytest.mark.parametrize("run", ["blocking", "async"])
@pytest.mark.parametrize("row", CALLS, ids=[row["name"] for row in CALLS])
def test_calls_give_the_services_answer_or_the_kits_message(service, row, run):
    client = client_for(row, service)
    if "error" in row:
        with pytest.raises(tovik.Error) as raised:
            call(client, row, run)
        assert row["error"] in str(raised.value)
        return
    result = call(client, row, run)
    for path, want in row["expect"].items():
        assert part(result, path) == (pytest.approx(want, abs=1e-6) if isinstance(want, float) else want), path


def test_calls_in_flight_at_once_each_get_their_own_outcome(service):
    client = tovik.Client(KEY, agree=True, service=service)
    strangers = tovik.Client("stranger", agree=True, service=service)

    async def together():
        return await asyncio.gather(
            client.reverse_async(39.9087, 116.3975), client.geocode_async("Beijing", "北京市"),
            strangers.reverse_async(39.9087, 116.3975), client.place_search_async("Jingshan", "北京市"),
            client.reverse_async(0.5, -30.0), client.nearby_search_async("", (39.9087, 116.3975), 3000),
            return_exceptions=True)

    answers = asyncio.run(together())
    assert part(answers[0], "location.address.name") == "Beijing, 北京市, 中国"
    assert part(answers[1], "0.name") == "Beijing"
    assert isinstance(answers[2], tovik.Error) and "401" in str(answers[2])
    assert part(answers[3], "0.name") == "Jingshan"
    assert part(answers[4], "location.position.point.latitude") == 0.5
    assert {place["name"] for place in answers[5]} == {"Beijing", "Jingshan"}


def test_a_time_out_gives_the_call_up_and_the_next_call_is_unaffected(service, silent):
    waiting = tovik.Client(KEY, agree=True, service=silent)
    with pytest.raises(TimeoutError, match="no answer within 0.3 s"):
        waiting.reverse(39.9087, 116.3975, timeout=0.3)
    with pytest.raises(TimeoutError, match="no answer within 0.3 s"):
        asyncio.run(waiting.geocode_async("Beijing", "北京市", timeout=0.3))
    client = tovik.Client(KEY, agree=True, service=service)
    assert part(client.reverse(0.5, -30.0, timeout=40), "location.position.point.longitude") == -30.0


def test_the_loop_sleeps_until_the_kit_has_work(service, silent, monkeypatch):
    ran = []  # handlers each wake-up of the loop ran
    poll = tovik._tovik.poll
    monkeypatch.setattr(tovik._tovik, "poll", lambda: ran.append(poll()) or ran[-1])
    waiting = tovik.Client(KEY, agree=True, service=silent)
    client = tovik.Client(KEY, agree=True, service=service)

    async def watch():
        with pytest.raises(TimeoutError):
            await waiting.reverse_async(39.9087, 116.3975, timeout=0.5)
        quiet = list(ran)
        answer = await client.reverse_async(39.9087, 116.3975)
        return quiet, answer

    quiet, answer = asyncio.run(watch())
    # Half a second without an answer: no wake-up but for work of the kit's (an earlier test's
    # request that ends, say), and none that found nothing to do.
    assert len(quiet) <= 2 and 0 not in ran, ran
    assert part(answer, "location.place.name") == "Beijing"
    assert tovik._asyncio._watch is None  # nothing awaited: the loop no longer watches the queue


def test_only_the_main_queues_thread_may_call(service):
    client = tovik.Client(KEY, agree=True, service=service)
    client.reverse(0.5, -30.0, timeout=40)  # this thread drives the queue from now on
    refusals = []

    def elsewhere():
        for attempt in (lambda: client.reverse(0.5, -30.0), lambda: asyncio.run(client.geocode_async("a", "b"))):
            try:
                attempt()
            except RuntimeError as error:
                refusals.append(str(error))

    thread = threading.Thread(target=elsewhere)
    thread.start()
    thread.join()
    assert len(refusals) == 2 and all("another thread drives the kit's main queue" in text for text in refusals)
    # tovik.Error is a RuntimeError too, but these are not the kit's call failures
    assert client.geocode("Beijing", "北京市", timeout=40)[0]["name"] == "Beijing"


def test_a_location_session_from_a_recorded_log(service):
    tovik.set_source(f"nmea:{SOURCE / 'data/beijing_walk.nmea'}@0")
    try:
        with pytest.raises(tovik.Error, match="NSLocationWhenInUseUsageDescription"):
            tovik.Client(KEY, agree=True, service=service).locate(timeout=40)
        client = tovik.Client(KEY, agree=True, service=service, purpose="tests the package")
        first = tovik.transform((39.9087, 116.3975), "wgs84", "gcj02")
        located = client.locate(timeout=40)
        point = part(located, "location.position.point")
        assert (point["latitude"], point["longitude"]) == pytest.approx(first, abs=1e-9)
        # The fast window closes on the kit's timer, which the loop keeps through call_later.
        fast = asyncio.run(client.locate_async(fast=True, timeout=40))
        assert part(fast, "location.position.point.latitude") == pytest.approx(39.91, abs=0.01)
    finally:
        tovik.set_source("auto")


def test_the_installed_example_runs_against_the_service(service):
    example = PREFIX / "share/doc/tovik/examples/python/track.py"
    run = subprocess.run([sys.executable, example, SOURCE / "data/beijing_walk.csv", "--service", service],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stdout + run.stderr
    for line in ["60 points; first in GCJ-02: 39.910103, 116.403744",
                 "length: 82.565 m on the sphere, 82.663 m on the ellipsoid", "address: Beijing, 北京市, 中国",
                 "nearby: Beijing (109 m), Jingshan (1954 m)", "found: Jingshan [116.410356,39.926685]"]:
        assert line in run.stdout.splitlines()
