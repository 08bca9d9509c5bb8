"""The kit's main queue on asyncio's loop. While calls are awaited, the loop watches the queue's
descriptor (readable while work waits) and sleeps no longer than the kit's next timer; each time
either wakes it, the queue runs what is ready and the finished calls' futures are settled. With
nothing awaited the loop neither watches nor wakes."""

import asyncio

from . import _tovik

_waiting = {}  # call → the future its coroutine awaits
_watch = None  # [loop, timer or None] while calls are awaited


async def wait(call, timeout):
    """The outcome of `call`, from the running loop; `timeout` seconds (None: no limit of its own)."""
    loop = asyncio.get_running_loop()
    future = loop.create_future()
    _waiting[call] = future
    _watch_from(loop)
    settle()  # a call the kit refused at once is finished already
    try:
        return await asyncio.wait_for(future, timeout)
    except TimeoutError:
        call.abandon()
        raise TimeoutError(f"tovik: no answer within {timeout} s") from None
    except BaseException:
        call.abandon()
        raise
    finally:
        _waiting.pop(call, None)
        _rearm()


def settle():
    """Hands the outcome of every finished call to its future, then sets the next wake-up."""
    for call, future in list(_waiting.items()):
        if call.done and not future.done():
            try:
                future.set_result(call.result())
            except _tovik.Error as error:
                future.set_exception(error)
    _rearm()


def _run():
    _tovik.poll()
    settle()


def _watch_from(loop):
    global _watch
    if _watch is not None and _watch[0] is not loop:
        _unwatch()  # a loop that has ended with calls still listed
    if _watch is None:
        loop.add_reader(_tovik.queue_fd(), _run)
        _watch = [loop, None]


def _unwatch():
    global _watch
    loop, timer = _watch
    _watch = None
    if timer is not None:
        timer.cancel()
    if not loop.is_closed():
        loop.remove_reader(_tovik.queue_fd())


def _rearm():
    if _watch is None:
        return
    if not any(not future.done() for future in _waiting.values()):
        _unwatch()
        return
    loop, timer = _watch
    if timer is not None:
        timer.cancel()
    delay = _tovik.next_timeout()
    _watch[1] = None if delay is None else loop.call_later(delay, _run)
