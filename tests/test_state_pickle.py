"""Serialisation: State pickles through __pyx_unpickle_State with its layout checksum;
StateVector refuses to be pickled or copied."""

import copy
import gc
import hashlib
import pickle
import pickletools
import weakref

import numpy as np
import pytest

from orbalis.frames.frames import GCRF, ITRF, TEME, Frame
from orbalis.satellite.satellite import State, StateVector, __pyx_unpickle_State
from orbalis.time.time import Time

NO_REDUCE = "no default __reduce__ due to non-trivial __cinit__"
INCOMPATIBLE = (
    "Incompatible checksums (0x{:x} vs (0x1dc0ed3, 0xe2bddd5, 0xf4e554c) = (frame, time))"
)


def state(frame, time):
    s = State()
    s.__setstate__((frame, time))
    return s


class Tagged(State):
    """A Python subclass: instances have a __dict__."""


class LocalFrame(Frame):
    """A frame object outside the frames registry (Frame[name] never finds it)."""

    name = "LOCAL"

    def __new__(cls):
        return object.__new__(cls)


@pytest.mark.parametrize(
    "digest, expected",
    [(hashlib.sha256, 0x1DC0ED3), (hashlib.sha1, 0xE2BDDD5), (hashlib.md5, 0xF4E554C)],
)
def test_checksums_are_the_layout_digests(digest, expected):
    assert int(digest(b"frame time").hexdigest()[:7], 16) == expected


def test_empty_state_two_item_form():
    s = State()
    reduced = s.__reduce__()
    assert reduced == (__pyx_unpickle_State, (State, 0x1DC0ED3, (None, None)))
    loaded = pickle.loads(pickle.dumps(s))
    assert type(loaded) is State and loaded.frame is None and loaded.time is None


@pytest.mark.parametrize("frame, time", [(GCRF, None), (None, "t"), (TEME, "t")])
def test_three_item_form(frame, time):
    t = Time("2024-05-01T12:00:00") if time else None
    s = state(frame, t)
    assert s.__reduce__() == (__pyx_unpickle_State, (State, 0x1DC0ED3, None), (frame, t))


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_round_trip(protocol):
    t = Time(np.array(["2024-05-01T12:00:00", "2024-05-02"], dtype="datetime64[us]"))
    s = state(ITRF, t)
    data = pickle.dumps(s, protocol=protocol)
    text = " ".join(arg for _, arg, _ in pickletools.genops(data) if isinstance(arg, str))
    assert "orbalis.satellite.satellite" in text
    assert "__pyx_unpickle_State" in text and "State" in text.replace("__pyx_unpickle_State", "")
    loaded = pickle.loads(data)
    assert type(loaded) is State
    assert loaded.frame is ITRF  # frames load back as the same object
    assert type(loaded.time) is Time and bool(np.all(loaded.time == t))


def test_copy_and_deepcopy():
    t = Time("2024-01-01")
    s = state(GCRF, t)
    shallow = copy.copy(s)
    assert shallow is not s and shallow.frame is GCRF and shallow.time is t
    deep = copy.deepcopy(s)
    assert deep.frame is GCRF and bool(np.all(deep.time == t))


def test_subclass_keeps_its_type_and_dict():
    s = Tagged()
    s.label = "ISS"
    s.__setstate__((GCRF, None))
    reduced = s.__reduce__()
    assert reduced == (
        __pyx_unpickle_State,
        (Tagged, 0x1DC0ED3, None),
        (GCRF, None, {"label": "ISS"}),
    )
    for loaded in (copy.copy(s), copy.deepcopy(s)):
        assert type(loaded) is Tagged and loaded.label == "ISS" and loaded.frame is GCRF
    # an empty dict still selects the three-item form
    assert len(Tagged().__reduce__()) == 3


@pytest.mark.parametrize("checksum", [0x1DC0ED3, 0xE2BDDD5, 0xF4E554C, np.int64(0xE2BDDD5)])
def test_accepted_checksums(checksum):
    loaded = __pyx_unpickle_State(State, checksum, (None, None))
    assert type(loaded) is State and loaded.frame is None


@pytest.mark.parametrize("checksum", [5, 0, 0x1DC0ED4, -5, 2**62])
def test_incompatible_checksum(checksum):
    with pytest.raises(pickle.PickleError) as raised:
        __pyx_unpickle_State(State, checksum, (None, None))
    assert str(raised.value) == INCOMPATIBLE.format(checksum)
    if checksum == 5:
        assert str(raised.value) == (
            "Incompatible checksums (0x5 vs (0x1dc0ed3, 0xe2bddd5, 0xf4e554c) = (frame, time))"
        )


@pytest.mark.parametrize(
    "checksum, error", [("0x1dc0ed3", TypeError), (None, TypeError), (2**64, OverflowError)]
)
def test_checksum_conversion_errors(checksum, error):
    with pytest.raises(error):
        __pyx_unpickle_State(State, checksum, (None, None))


def test_checksum_goes_through_int():
    class Integral:
        def __int__(self):
            return 0x1DC0ED3

    assert type(__pyx_unpickle_State(State, Integral(), None)) is State
    assert type(__pyx_unpickle_State(State, 31198931.0, None)) is State


@pytest.mark.parametrize("cls", [StateVector, int, "State"])
def test_unpickle_type_must_allocate_as_state(cls):
    with pytest.raises(TypeError):
        __pyx_unpickle_State(cls, 0x1DC0ED3, None)


@pytest.mark.parametrize("bad", [[None, None], "ab", 5])
def test_unpickle_state_must_be_a_tuple(bad):
    with pytest.raises(TypeError):
        __pyx_unpickle_State(State, 0x1DC0ED3, bad)


@pytest.mark.parametrize("short", [(), (GCRF,)])
def test_short_state_tuple_is_refused(short):
    with pytest.raises(TypeError):
        __pyx_unpickle_State(State, 0x1DC0ED3, short)
    s = State()
    with pytest.raises(TypeError):
        s.__setstate__(short)
    assert s.frame is None and s.time is None


def test_setstate_checks_item_types_in_order():
    s = State()
    with pytest.raises(TypeError):
        s.__setstate__(("GCRF", None))
    assert s.frame is None
    with pytest.raises(TypeError):
        s.__setstate__((ITRF, "2024"))
    assert s.frame is ITRF and s.time is None  # the frame was stored before the time failed
    with pytest.raises(TypeError, match="not subscriptable"):
        s.__setstate__(None)
    with pytest.raises(TypeError):
        s.__setstate__([GCRF, None])
    with pytest.raises(TypeError):
        s.__setstate__()


def test_extra_items_without_a_dict_are_ignored():
    s = State()
    s.__setstate__((GCRF, None, {"ignored": 1}, "more"))
    assert s.frame is GCRF
    t = Tagged()
    t.__setstate__((None, None, {"a": 1}, "more"))
    assert t.a == 1


def test_frame_subclass_instance_is_accepted():
    frame = LocalFrame()
    assert isinstance(frame, Frame)
    assert state(frame, None).frame is frame


def test_cycle_through_a_state_is_collected():
    frame = LocalFrame()
    s = Tagged()
    s.__setstate__((frame, None))
    frame.owner = s
    alive = weakref.ref(frame)
    del s, frame
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize(
    "action",
    [
        pickle.dumps,
        copy.copy,
        copy.deepcopy,
        lambda sv: sv.__reduce__(),
        lambda sv: sv.__setstate__((GCRF, None)),
    ],
    ids=["pickle", "copy", "deepcopy", "reduce", "setstate"],
)
def test_state_vector_refuses_pickling(action):
    t = Time(np.array(["2024-01-01"], dtype="datetime64[s]"))
    sv = StateVector(t, np.zeros((1, 3)), np.zeros((1, 3)))
    with pytest.raises(TypeError) as raised:
        action(sv)
    assert str(raised.value) == NO_REDUCE
