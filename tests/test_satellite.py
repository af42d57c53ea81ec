"""The satellite module: its initialisation (companion bindings, refusal of a second
initialisation, the interpreter's assertion switch) and the Satellite type. Pickling and
copying refusals are in test_state_pickle.py."""

import gc

import numpy as np
import pytest

import orbalis.satellite.satellite as satellite_module
from orbalis._testing import labelled_lines
from orbalis.satellite.satellite import Satellite, State, StateVector
from orbalis.time.time import Time

# --- module ------------------------------------------------------------------------------


def test_public_attributes_and_types():
    public = {name for name in vars(satellite_module) if not name.startswith("__")}
    names = "State StateVector Satellite FrameAttributeError numpy DatetimeLike"
    assert public == set(names.split())
    assert satellite_module.numpy is np
    assert satellite_module.__pyx_unpickle_State.__module__ == "orbalis.satellite.satellite"
    assert StateVector.__base__ is State
    assert State.__base__ is object and Satellite.__base__ is object
    assert State.__doc__ is None and StateVector.__doc__ is None
    assert Satellite.__doc__ == "Satellite() -> None"
    # the types are documented in the module docstring instead
    doc = satellite_module.__doc__
    for heading in ("State\n", 'StateVector(time, r, v, frame="GCRF")\n', "Satellite()\n"):
        assert f"\n{heading}" in doc


HEAPTYPE, IMMUTABLETYPE = 1 << 9, 1 << 8


@pytest.mark.parametrize("cls", [State, StateVector, Satellite])
def test_type_names_and_flags(cls):
    assert cls.__module__ == "orbalis.satellite.satellite"
    assert cls.__qualname__ == cls.__name__
    assert "__dict__" not in dir(cls) and "__weakref__" not in dir(cls)
    assert cls.__flags__ & HEAPTYPE and cls.__flags__ & IMMUTABLETYPE
    with pytest.raises(TypeError, match="immutable"):
        cls.__repr__ = object.__repr__
    sub = type("Sub", (cls,), {})
    assert issubclass(sub, cls)  # subclassable from Python, and the subclass is mutable
    sub.extra = 1
    # instances own their type and report it to the collector once
    arrays = np.zeros((1, 3)), np.zeros((1, 3))
    instance = sub(Time("2024"), *arrays) if cls is StateVector else sub.__new__(sub)
    assert [x for x in gc.get_referents(instance) if x is sub] == [sub]


def test_method_descriptor_owns_its_type_and_is_not_instantiable():
    method = StateVector.to_frame
    assert method.__objclass__ is StateVector
    assert any(x is StateVector for x in gc.get_referents(method))
    with pytest.raises(TypeError, match="cannot create"):
        type(method)()
    with pytest.raises(TypeError):
        type(method).__repr__ = object.__repr__


def test_second_initialisation_is_refused(python_subprocess):
    result = python_subprocess(
        """
        import importlib, sys
        import orbalis.satellite.satellite
        del sys.modules["orbalis.satellite.satellite"]
        importlib.import_module("orbalis.satellite.satellite")
        """,
        check=False,
    )
    last = result.stderr.strip().splitlines()[-1]
    assert last.startswith("RuntimeError:") and "already been imported" in last


# A stand-in frames module, so each companion name can be removed or given the wrong kind.
FAKE_FRAMES = """
import sys, types
fake = types.ModuleType("orbalis.frames.frames")
fake.Frame = Frame = type("Frame", (), dict())
names = "_GCRF", "_ITRF", "_TEME"
fake._GCRF, fake._ITRF, fake._TEME = (type(n, (Frame,), dict()) for n in names)
fake.GCRF, fake.ITRF, fake.TEME = fake._GCRF(), fake._ITRF(), fake._TEME()
import orbalis.frames
{patch}
sys.modules["orbalis.frames.frames"] = orbalis.frames.frames = fake
import orbalis.satellite.satellite
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
    result = python_subprocess(FAKE_FRAMES.format(patch=patch), check=False)
    outcome = result.stdout.strip() or result.stderr.strip().splitlines()[-1]
    assert outcome.split(":")[0] == expected, result.stderr


def test_optimised_interpreter_skips_the_shape_assertions(python_subprocess):
    result = python_subprocess(
        """
        import numpy as np
        from orbalis.satellite.satellite import StateVector
        from orbalis.time.time import Time
        t = Time(np.array(["2024-01-01", "2024-01-02"], dtype="datetime64[s]"))
        a = StateVector(t, np.zeros((3, 4)), np.zeros((5, 4)))
        b = StateVector(t, None, None)
        print("mismatched rows r:", a.r.shape)
        print("mismatched rows v:", a.v.shape)
        print("absent r:", b.r.shape, b.r.dtype)
        print("absent v:", b.v.shape)
        """,
        "-O",
    )
    assert labelled_lines(result.stdout) == {
        "mismatched rows r": "(3, 4)",
        "mismatched rows v": "(5, 4)",
        "absent r": "(0, 0) float64",
        "absent v": "(0, 0)",
    }


# --- Satellite ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda s: Satellite(0), TypeError),
        (lambda s: Satellite(time=0), TypeError),
        (lambda s: Satellite(1, 2, x=3), TypeError),
        (lambda s: delattr(s, "time"), NotImplementedError),
        (lambda s: setattr(s, "_time", 1), AttributeError),
        (lambda s: delattr(s, "_time"), AttributeError),
    ],
)
def test_misuse_raises(call, error):
    s = Satellite()
    s.time = "2024"
    held = s.time
    with pytest.raises(error):
        call(s)
    assert s.time is held


def test_time_lifecycle():
    s = Satellite()
    assert s.time is None and s._time is None and repr(s) == "Satellite(time=None)"
    s.time = "2024"
    assert type(s.time) is Time and s.time.jd == 2460310.5
    assert s.time is s._time and s.time is s.time
    assert repr(s) == f"Satellite(time={s.time!r})"
    assert gc.is_tracked(s) and any(x is s.time for x in gc.get_referents(s))
    t = Time("2024-06-01")
    s.time = t  # an existing Time goes through Time(value) too
    assert s.time is not t and bool(np.all(s.time == t))
    # a failed conversion propagates unchanged and keeps the old time; None is converted too
    held = s.time
    for bad in (object(), None):
        with pytest.raises(Exception) as expected:
            Time(bad)
        with pytest.raises(expected.type) as raised:
            s.time = bad
        assert str(raised.value) == str(expected.value) and s.time is held
    assert Satellite.time.__doc__ == "Satellite.time: Time"


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
