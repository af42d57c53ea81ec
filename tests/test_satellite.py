"""The satellite module: its initialisation (companion bindings, refusal of a second
initialisation, the interpreter's assertion switch) and the Satellite type."""

import copy
import gc
import pickle

import numpy as np
import pytest

import orbalis.satellite.satellite as satellite_module
from orbalis.satellite.satellite import Satellite, State, StateVector
from orbalis.time.time import Time

NO_REDUCE = "no default __reduce__ due to non-trivial __cinit__"


# --- module ------------------------------------------------------------------------------


def test_public_attributes():
    public = {name for name in vars(satellite_module) if not name.startswith("__")}
    assert public == {
        "State",
        "StateVector",
        "Satellite",
        "FrameAttributeError",
        "numpy",
        "DatetimeLike",
    }
    assert satellite_module.numpy is np
    assert callable(satellite_module.__pyx_unpickle_State)
    assert satellite_module.__pyx_unpickle_State.__module__ == "orbalis.satellite.satellite"


@pytest.mark.parametrize(
    "cls, name",
    [(State, "State"), (StateVector, "StateVector"), (Satellite, "Satellite")],
)
def test_type_names_and_flags(cls, name):
    assert cls.__module__ == "orbalis.satellite.satellite"
    assert cls.__qualname__ == name
    assert "__dict__" not in dir(cls) and "__weakref__" not in dir(cls)

    class Sub(cls):  # subclassable from Python
        pass

    assert issubclass(Sub, cls)


def test_type_hierarchy():
    assert StateVector.__base__ is State
    assert State.__base__ is object and Satellite.__base__ is object
    assert not issubclass(Satellite, State)
    assert State.__doc__ is None and StateVector.__doc__ is None
    assert Satellite.__doc__ == "Satellite() -> None"


def test_second_initialisation_is_refused(python_subprocess):
    result = python_subprocess(
        """
        import importlib, sys
        import orbalis.satellite.satellite as m
        del sys.modules["orbalis.satellite.satellite"]
        try:
            importlib.import_module("orbalis.satellite.satellite")
        except RuntimeError as exc:
            print("refused:", exc)
        """
    )
    assert result.returncode == 0, result.stderr
    assert "refused:" in result.stdout and "already been imported" in result.stdout


FAKE_FRAMES = """
import sys, types
fake = types.ModuleType("orbalis.frames.frames")
class Frame: pass
class _GCRF(Frame): pass
class _ITRF(Frame): pass
class _TEME(Frame): pass
fake.Frame, fake._GCRF, fake._ITRF, fake._TEME = Frame, _GCRF, _ITRF, _TEME
fake.GCRF, fake.ITRF, fake.TEME = _GCRF(), _ITRF(), _TEME()
import orbalis.frames
{patch}
sys.modules["orbalis.frames.frames"] = fake
orbalis.frames.frames = fake
try:
    import orbalis.satellite.satellite
except Exception as exc:
    print(type(exc).__name__, exc)
else:
    print("imported")
"""


@pytest.mark.parametrize(
    "patch, expected",
    [
        ("", "imported"),
        ("del fake.TEME", "ImportError"),
        ("del fake._ITRF", "ImportError"),
        ("del fake.Frame", "ImportError"),
        ("fake.Frame = 'Frame'", "TypeError"),
        ("fake._GCRF = object()", "TypeError"),
        ("fake.ITRF = fake.GCRF", "TypeError"),
        ("fake.GCRF = 'GCRF'", "TypeError"),
        ("import orbalis.time.time as t; t.Time = 'Time'", "TypeError"),
        ("import orbalis.time.time as t; del t.Time", "ImportError"),
        ("import orbalis.typing as t; del t.DatetimeLike", "ImportError"),
    ],
)
def test_companion_bindings_are_checked(python_subprocess, patch, expected):
    result = python_subprocess(FAKE_FRAMES.format(patch=patch))
    assert result.returncode == 0, result.stderr
    assert result.stdout.split()[0] == expected, result.stdout


def test_optimised_interpreter_skips_the_shape_assertions(python_subprocess):
    result = python_subprocess(
        """
        import numpy as np
        from orbalis.satellite.satellite import StateVector
        from orbalis.time.time import Time
        t = Time(np.array(["2024-01-01", "2024-01-02"], dtype="datetime64[s]"))
        a = StateVector(t, np.zeros((3, 4)), np.zeros((5, 4)))
        print(a.r.shape, a.v.shape)
        b = StateVector(t, None, None)
        print(b.r.shape, b.r.dtype, b.v.shape)
        """,
        "-O",
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n")[:2] == ["(3, 4) (5, 4)", "(0, 0) float64 (0, 0)"]


# --- Satellite ---------------------------------------------------------------------------


def test_new_satellite_has_no_time():
    s = Satellite()
    assert s.time is None and s._time is None


@pytest.mark.parametrize("args, kwargs", [((0,), {}), ((), {"time": 0}), ((1, 2), {"x": 3})])
def test_constructor_takes_no_arguments(args, kwargs):
    with pytest.raises(TypeError):
        Satellite(*args, **kwargs)


def test_allocation_ignores_arguments_for_subclasses():
    class Named(Satellite):
        def __init__(self, name, time=None):
            super().__init__()
            self.name = name
            if time is not None:
                self.time = time

    s = Named("ISS", time="2024-01-01")
    assert s.name == "ISS" and s.time.jd == 2460310.5
    assert Satellite.__new__(Satellite, 1, 2, x=3).time is None


def test_time_assignment_converts_through_time():
    s = Satellite()
    s.time = "2024"
    assert type(s.time) is Time and s.time.jd == 2460310.5
    assert s.time is s._time and s.time is s.time
    t = Time("2024-06-01")
    s.time = t
    assert s.time is not t and bool(np.all(s.time == t))


def test_failed_assignment_keeps_the_old_time():
    s = Satellite()
    s.time = "2024-01-01"
    held = s.time
    with pytest.raises(Exception) as expected:
        Time(object())
    with pytest.raises(expected.type):
        s.time = object()
    assert s.time is held
    with pytest.raises(Exception) as expected:
        Time(None)
    with pytest.raises(expected.type):
        s.time = None  # None too goes through Time(None)


def test_time_cannot_be_deleted_and_private_slot_is_read_only():
    s = Satellite()
    with pytest.raises(NotImplementedError):
        del s.time
    for action in (lambda: setattr(s, "_time", 1), lambda: delattr(s, "_time")):
        with pytest.raises(AttributeError):
            action()
    assert Satellite.time.__doc__ == "Satellite.time: Time"


@pytest.mark.parametrize(
    "action",
    [
        pickle.dumps,
        copy.copy,
        copy.deepcopy,
        lambda s: s.__reduce__(),
        lambda s: s.__setstate__(None),
        lambda s: s.__reduce_ex__(2),
    ],
    ids=["pickle", "copy", "deepcopy", "reduce", "setstate", "reduce_ex"],
)
def test_satellite_refuses_pickling_and_copying(action):
    s = Satellite()
    s.time = "2024"
    with pytest.raises(TypeError) as raised:
        action(s)
    assert str(raised.value) == NO_REDUCE


def test_satellite_time_is_visited_by_gc():
    s = Satellite()
    s.time = "2024"
    assert any(x is s.time for x in gc.get_referents(s))
    assert gc.is_tracked(s)


def test_repr():
    s = Satellite()
    assert repr(s) == "Satellite(time=None)"
    s.time = "2024"
    assert repr(s) == f"Satellite(time={s.time!r})"
