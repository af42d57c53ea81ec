"""Serialisation: State pickles through __pyx_unpickle_State with its layout checksum;
StateVector and Satellite refuse to be pickled or copied."""

import copy
import gc
import hashlib
import pickle
import pickletools
import weakref

import numpy as np
import pytest

from orbalis.frames.frames import GCRF, ITRF, TEME, Frame
from orbalis.satellite.satellite import Satellite, State, StateVector, __pyx_unpickle_State
from orbalis.time.time import Time

NO_REDUCE = "no default __reduce__ due to non-trivial __cinit__"
INCOMPATIBLE = (
    "Incompatible checksums (0x{:x} vs (0x1dc0ed3, 0xe2bddd5, 0xf4e554c) = (frame, time))"
)
CHECKSUM = 0x1DC0ED3
T = Time(np.array(["2024-05-01T12:00:00", "2024-05-02"], dtype="datetime64[us]"))


def state(frame, time, cls=State):
    s = cls()
    s.__setstate__((frame, time))
    return s


class Tagged(State):
    """A Python subclass: instances have a __dict__."""


class LocalFrame(Frame):
    """A frame object outside the frames registry (Frame[name] never finds it)."""

    name = "LOCAL"

    def __new__(cls):
        return object.__new__(cls)


class Integral:
    def __int__(self):
        return CHECKSUM


@pytest.mark.parametrize(
    "digest, expected",
    [(hashlib.sha256, 0x1DC0ED3), (hashlib.sha1, 0xE2BDDD5), (hashlib.md5, 0xF4E554C)],
)
def test_checksums_are_the_layout_digests(digest, expected):
    assert int(digest(b"frame time").hexdigest()[:7], 16) == expected


@pytest.mark.parametrize("frame, time", [(None, None), (GCRF, None), (None, T), (TEME, T)])
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_reduce_forms_round_trips_and_copies(frame, time, protocol):
    s = state(frame, time)
    if frame is None and time is None:
        assert s.__reduce__() == (__pyx_unpickle_State, (State, CHECKSUM, (None, None)))
    else:
        assert s.__reduce__() == (__pyx_unpickle_State, (State, CHECKSUM, None), (frame, time))
    data = pickle.dumps(s, protocol=protocol)
    text = " ".join(arg for _, arg, _ in pickletools.genops(data) if isinstance(arg, str))
    assert "orbalis.satellite.satellite" in text
    assert "__pyx_unpickle_State" in text and "State" in text.replace("__pyx_unpickle_State", "")
    shallow = copy.copy(s)
    assert shallow is not s and shallow.frame is frame and shallow.time is time
    for loaded in (pickle.loads(data), copy.deepcopy(s)):
        assert type(loaded) is State and loaded.frame is frame  # frames load as the same object
        if time is None:
            assert loaded.time is None
        else:
            assert type(loaded.time) is Time and bool(np.all(loaded.time == time))


def test_subclass_keeps_its_type_and_dict():
    s = state(GCRF, None, Tagged)
    s.label = "ISS"
    expected = (__pyx_unpickle_State, (Tagged, CHECKSUM, None), (GCRF, None, {"label": "ISS"}))
    assert s.__reduce__() == expected
    for loaded in (copy.copy(s), copy.deepcopy(s)):
        assert type(loaded) is Tagged and loaded.label == "ISS" and loaded.frame is GCRF
    assert len(Tagged().__reduce__()) == 3  # an empty dict still selects the three-item form


@pytest.mark.parametrize(
    "checksum, error",
    [(0x1DC0ED3, None), (0xE2BDDD5, None), (0xF4E554C, None), (np.int64(0xE2BDDD5), None)]
    + [(Integral(), None), (31198931.0, None)]  # converted through __int__
    + [(c, pickle.PickleError) for c in (5, 0, 0x1DC0ED4, -5, 2**62)]
    + [("0x1dc0ed3", TypeError), (None, TypeError), (2**64, OverflowError)],
)
def test_checksums(checksum, error):
    if error is None:
        loaded = __pyx_unpickle_State(State, checksum, (None, None))
        assert type(loaded) is State and loaded.frame is None and loaded.time is None
        return
    with pytest.raises(error) as raised:
        __pyx_unpickle_State(State, checksum, (None, None))
    if error is pickle.PickleError:
        assert str(raised.value) == INCOMPATIBLE.format(checksum)


@pytest.mark.parametrize("cls", [StateVector, int, "State"])
def test_unpickle_type_must_allocate_as_a_state(cls):
    with pytest.raises(TypeError):
        __pyx_unpickle_State(cls, CHECKSUM, None)


@pytest.mark.parametrize("bad", [[GCRF, None], "ab", 5, (), (GCRF,)])
def test_state_must_be_an_exact_tuple_of_two_items(bad):
    with pytest.raises(TypeError):
        __pyx_unpickle_State(State, CHECKSUM, bad)
    with pytest.raises(TypeError):
        State().__setstate__(bad)


def test_setstate_checks_item_types_in_order():
    s = State()
    with pytest.raises(TypeError):
        s.__setstate__(("GCRF", None))
    assert s.frame is None
    with pytest.raises(TypeError):
        s.__setstate__((GCRF,))
    assert s.frame is None and s.time is None
    with pytest.raises(TypeError):
        s.__setstate__((ITRF, "2024"))
    assert s.frame is ITRF and s.time is None  # the frame was stored before the time failed
    with pytest.raises(TypeError, match="not subscriptable"):
        s.__setstate__(None)
    with pytest.raises(TypeError):
        s.__setstate__()
    # a third item updates the __dict__ if there is one; further items are ignored
    s.__setstate__((GCRF, None, {"ignored": 1}, "more"))
    assert s.frame is GCRF
    t = Tagged()
    t.__setstate__((None, None, {"a": 1}, "more"))
    assert t.a == 1


class TaggedVector(StateVector):
    def __setstate__(self, state):
        State.__setstate__(self, state)


@pytest.mark.parametrize(
    "apply",
    [lambda sv, st: State.__setstate__(sv, st), lambda sv, st: sv.__setstate__(st)],
    ids=["State.__setstate__", "subclass-delegating"],
)
def test_a_state_tuple_is_not_applied_to_a_state_vector(apply):
    sv = TaggedVector(T, np.zeros((2, 3)), np.zeros((2, 3)))
    frame, time = sv.frame, sv.time
    one_epoch = Time("2024-01-01")  # would leave 2 rows with a time of size 1
    with pytest.raises(TypeError, match="TaggedVector"):
        apply(sv, (ITRF, one_epoch))
    assert sv.frame is frame and sv.time is time


def test_cycle_through_a_state_is_collected():
    frame = LocalFrame()  # a Frame subclass instance is accepted
    s = state(frame, None, Tagged)
    assert s.frame is frame
    frame.owner = s
    alive = weakref.ref(frame)
    del s, frame
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize(
    "make",
    [Satellite, lambda: StateVector(T, np.zeros((2, 3)), np.zeros((2, 3)))],
    ids=["Satellite", "StateVector"],
)
@pytest.mark.parametrize(
    "action",
    [
        pickle.dumps,
        copy.copy,
        copy.deepcopy,
        lambda o: o.__reduce__(),
        lambda o: o.__reduce_ex__(2),
        lambda o: o.__setstate__((GCRF, None)),
    ],
    ids=["pickle", "copy", "deepcopy", "reduce", "reduce_ex", "setstate"],
)
def test_refuses_pickling_and_copying(make, action):
    with pytest.raises(TypeError) as raised:
        action(make())
    assert str(raised.value) == NO_REDUCE
