"""StateVector: construction and its order of checks, arrays viewed in place (memory shared
both ways, exporters kept alive), equality, frame conversion with to_frame and through
attribute names, and garbage collection of cycles through a state vector."""

import gc
import sys
import weakref

import numpy as np
import pytest

from orbalis.frames.frames import GCRF, ITRF, TEME, Frame
from orbalis.satellite.satellite import FrameAttributeError, State, StateVector
from orbalis.time.time import Time


def epochs(n):
    return Time(np.datetime64("2024-03-01T00:00:00") + np.arange(n) * np.timedelta64(60, "s"))


def rv(n, seed=0):
    rng = np.random.default_rng(seed)
    return rng.normal(size=(n, 3)) * 7e6, rng.normal(size=(n, 3)) * 7e3


def make(n=4, frame="GCRF", seed=0):
    r, v = rv(n, seed)
    return StateVector(epochs(n), r, v, frame), r, v


_DOUBLE = object()


class RecordingFrame(Frame):
    """A frame whose transform_to records its calls and returns a preset result (by
    default the arrays doubled). Made outside the frames registry, so Frame[name] never
    finds it and every test gets a fresh one."""

    name = "RECORDING"

    def __new__(cls, result=_DOUBLE):
        self = object.__new__(cls)
        self.calls = []
        self.result = result
        return self

    def transform_to(self, target, time, r, v):
        self.calls.append((target, time, r, v))
        if self.result is _DOUBLE:
            return r * 2.0, v * 2.0
        return self.result


# --- construction -----------------------------------------------------------------------


def test_construction_by_position_and_keyword():
    r, v = rv(3)
    t = epochs(3)
    a = StateVector(t, r, v)
    b = StateVector(time=t, v=v, r=r, frame="GCRF")
    assert a.frame is Frame["GCRF"] is b.frame
    assert isinstance(a, State)
    assert type(a.time) is Time and a.time.size == 3
    # Time(time) is applied: the stored time is a new object for the same epochs
    assert a.time is not t and bool(np.all(a.time == t))
    assert StateVector(t, r, v, ITRF).frame is ITRF
    assert StateVector(t, r, v, "TEME").frame is TEME


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((1, 2), {}),
        ((1, 2, 3, 4, 5), {}),
        ((1, 2, 3), {"frames": "GCRF"}),
        ((1, 2, 3), {"time": 1}),
    ],
)
def test_argument_binding_errors(args, kwargs):
    with pytest.raises(TypeError):
        StateVector(*args, **kwargs)


def test_frame_error_comes_before_time_and_array_errors():
    with pytest.raises(Exception) as expected:
        Frame["NO-SUCH-FRAME"]
    with pytest.raises(expected.type):
        StateVector(object(), "not an array", None, "NO-SUCH-FRAME")


def test_time_error_comes_before_array_errors():
    with pytest.raises(Exception) as expected:
        Time(object())
    with pytest.raises(expected.type) as raised:
        StateVector(object(), "not an array", [1.0])
    assert str(raised.value) == str(expected.value)


def test_frame_lookup_result_must_be_a_frame(monkeypatch):
    meta = type(Frame)
    if meta is type:
        pytest.skip("Frame subscription is not done by a metaclass")
    monkeypatch.setattr(meta, "__getitem__", lambda cls, name: "not a frame")
    r, v = rv(2)
    with pytest.raises(TypeError, match="not a"):
        StateVector(epochs(2), r, v, "GCRF")


@pytest.mark.parametrize(
    "bad, error",
    [
        (np.zeros(3), ValueError),  # one dimension
        (np.zeros((2, 3, 1)), ValueError),  # three dimensions
        (np.zeros((2, 3), dtype=np.float32), ValueError),
        (np.zeros((2, 3), dtype=np.int64), ValueError),
        (np.zeros((2, 3), dtype=">f8" if sys.byteorder == "little" else "<f8"), ValueError),
        (np.zeros((2, 3), dtype=np.complex128), ValueError),
        ([[0.0] * 3] * 2, TypeError),  # no buffer interface
        (object(), TypeError),
        (bytes(48), ValueError),  # read-only exporter other than NumPy
    ],
    ids=["1d", "3d", "float32", "int64", "byteswapped", "complex", "list", "object", "bytes"],
)
@pytest.mark.parametrize("which", ["r", "v"])
def test_array_argument_errors(bad, error, which):
    r, v = rv(2)
    kwargs = {"r": r, "v": v, which: bad}
    with pytest.raises(error):
        StateVector(epochs(2), **kwargs)


def test_read_only_array_is_refused():
    r, v = rv(2)
    r.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        StateVector(epochs(2), r, v)


@pytest.mark.parametrize(
    "r_shape, v_shape, n_time",
    [((3, 3), (4, 3), 3), ((3, 3), (3, 3), 4), ((3, 4), (3, 4), 3), ((3, 3), (3, 4), 3)],
    ids=["rows-differ", "time-size-differs", "four-columns", "columns-differ"],
)
def test_shape_assertions(r_shape, v_shape, n_time):
    with pytest.raises(AssertionError) as raised:
        StateVector(epochs(n_time), np.zeros(r_shape), np.zeros(v_shape))
    assert raised.value.args == ()


def test_none_arrays_fail_the_size_check():
    with pytest.raises(AssertionError):
        StateVector(epochs(1), None, None)


def test_failed_construction_releases_the_arrays():
    r, v = rv(3)
    before = sys.getrefcount(r), sys.getrefcount(v)
    for _ in range(3):
        with pytest.raises(AssertionError):
            StateVector(epochs(2), r, v)
    assert (sys.getrefcount(r), sys.getrefcount(v)) == before


# --- views --------------------------------------------------------------------------------


def test_memory_is_shared_both_ways():
    sv, r, v = make(3)
    a = sv.r
    assert a is not sv.r  # a new array on every read
    assert np.shares_memory(a, r) and np.shares_memory(sv.v, v)
    assert a.dtype == np.float64 and a.shape == (3, 3) and a.flags.writeable
    a[0, 0] = -1.5
    assert r[0, 0] == -1.5
    v[2, 1] = 123.25
    assert sv.v[2, 1] == 123.25


@pytest.mark.parametrize(
    "layout",
    ["fortran", "column-slice", "reversed-rows", "every-other-row"],
)
def test_any_strides_are_viewed_in_place(layout):
    n = 5
    base = np.arange(n * 6, dtype=np.float64).reshape(n, 6)
    if layout == "fortran":
        r, v = np.asfortranarray(base[:, :3]), np.asfortranarray(base[:, 3:])
    elif layout == "column-slice":
        r, v = base[:, 0:3], base[:, 3:6]
    elif layout == "reversed-rows":
        big = np.arange(n * 3, dtype=np.float64).reshape(n, 3)
        r, v = big[::-1], big[::-1].copy()
    else:
        big = np.arange(2 * n * 3, dtype=np.float64).reshape(2 * n, 3)
        r, v = big[::2], big[1::2]
    sv = StateVector(epochs(n), r, v)
    for got, given in ((sv.r, r), (sv.v, v)):
        assert got.strides == given.strides
        assert got.__array_interface__["data"][0] == given.__array_interface__["data"][0]
        np.testing.assert_array_equal(got, given)
    sv.r[1, 2] = 99.0
    assert r[1, 2] == 99.0


def test_exporter_kept_alive_and_released():
    r, v = rv(3)
    counts = sys.getrefcount(r), sys.getrefcount(v)
    sv = StateVector(epochs(3), r, v)
    assert sys.getrefcount(r) > counts[0] and sys.getrefcount(v) > counts[1]
    a = sv.r
    del sv
    # the array read from the state vector keeps the export (and the memory) alive
    assert sys.getrefcount(r) > counts[0]
    a[0, 0] = 7.0
    assert r[0, 0] == 7.0
    del a
    assert (sys.getrefcount(r), sys.getrefcount(v)) == counts


def test_buffer_export_held_until_last_array_goes():
    # A bytearray cannot be resized while a buffer export exists: the resize attempt
    # proves the export is held exactly as long as the state vector or its arrays live.
    store = bytearray(2 * 3 * 8 * 2)
    mv = memoryview(store).cast("d", (4, 3))
    sv = StateVector(epochs(2), mv[:2], mv[2:])
    del mv
    with pytest.raises(BufferError):
        store.extend(b"x")
    r = sv.r
    r[1, 2] = 5.0
    assert np.frombuffer(store, dtype=np.float64)[5] == 5.0
    del sv
    with pytest.raises(BufferError):
        store.extend(b"x")
    del r
    store.extend(b"x")


def test_frame_and_time_are_read_only():
    sv, _, _ = make(2)
    for name in ("frame", "time"):
        with pytest.raises(AttributeError):
            setattr(sv, name, None)
        with pytest.raises(AttributeError):
            delattr(sv, name)


# --- equality ------------------------------------------------------------------------------


def test_equality_same_frame_gives_numpy_bool():
    a, r, v = make(3)
    b = StateVector(epochs(3), r.copy(), v.copy())
    eq = a == b
    assert type(eq) is np.bool_ and eq
    assert (a != b) is False
    b.r[1, 1] += 1.0
    eq = a == b
    assert type(eq) is np.bool_ and not eq
    assert (a != b) is True


def test_equality_is_exact_and_nan_never_equal():
    a, r, v = make(2)
    b = StateVector(epochs(2), np.nextafter(r, np.inf), v)
    assert not (a == b)
    r[0, 0] = np.nan
    assert not (a == a)
    assert (a != a) is True
    # signed zeros compare equal, as NumPy's == does
    r[0, 0] = 0.0
    c = StateVector(epochs(2), r.copy(), v)
    c.r[0, 0] = -0.0
    assert a == c


def test_different_frame_objects_compare_false_as_python_bool():
    a, r, v = make(2)
    b = StateVector(epochs(2), r, v, ITRF)
    assert (a == b) is False
    assert (a != b) is True


def test_equality_compares_times():
    a, r, v = make(2)
    t = Time(np.datetime64("2025-01-01") + np.arange(2) * np.timedelta64(1, "s"))
    b = StateVector(t, r, v)
    eq = a == b
    assert type(eq) is np.bool_ and not eq


def test_equality_stops_at_the_first_false_result():
    reads = []

    class Counting(StateVector):
        @property
        def r(self):
            reads.append("r")
            return StateVector.r.__get__(self)

    r, v = rv(2)
    a = Counting(epochs(2), r, v)
    b = Counting(Time(np.array(["2001-01-01", "2001-01-02"], dtype="datetime64[s]")), r, v)
    assert not (a == b)
    assert reads == []  # the times differ: positions are never read
    assert a == Counting(epochs(2), r, v)
    assert reads == ["r", "r"]


@pytest.mark.parametrize("other, text", [(5, "<class 'int'>"), (None, "<class 'NoneType'>")])
@pytest.mark.parametrize("op", ["eq", "ne", "req"])
def test_comparing_with_a_non_state_vector(other, text, op):
    sv, _, _ = make(2)
    with pytest.raises(TypeError) as raised:
        if op == "eq":
            sv == other  # noqa: B015
        elif op == "ne":
            sv != other  # noqa: B015
        else:
            other == sv  # noqa: B015
    assert str(raised.value) == "Cannot compare StateVector with " + text


def test_comparing_with_a_plain_state_is_refused():
    sv, _, _ = make(2)
    with pytest.raises(TypeError, match="Cannot compare StateVector with <class "):
        sv == State()  # noqa: B015


@pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
def test_ordering_is_refused(op):
    a, _, _ = make(2)
    b, _, _ = make(2)
    import operator

    with pytest.raises(TypeError):
        getattr(operator, op.strip("_"))(a, b)


def test_hashing():
    sv, _, _ = make(2)
    with pytest.raises(TypeError, match="unhashable"):
        hash(sv)
    assert StateVector.__hash__ is None
    s = State()
    assert hash(s) == hash(s)


def test_state_ignores_its_arguments():
    s = State(1, 2, x=3)
    assert type(s) is State and s.frame is None and s.time is None


# --- frame conversion -----------------------------------------------------------------------


@pytest.mark.parametrize("keyword", [False, True])
def test_to_frame_same_frame_shares_memory_without_transform(keyword):
    frame = RecordingFrame()
    r, v = rv(3)
    sv = StateVector(epochs(3), r, v, frame)
    out = sv.to_frame(frame=frame) if keyword else sv.to_frame(frame)
    assert frame.calls == []
    assert type(out) is StateVector and out is not sv
    assert out.frame is frame
    assert np.shares_memory(out.r, r) and np.shares_memory(out.v, v)
    out2 = StateVector(epochs(3), r, v).to_frame("GCRF")
    assert out2.frame is GCRF and np.shares_memory(out2.r, r)


def test_to_frame_calls_transform_once_with_the_contract_arguments():
    frame = RecordingFrame()
    r, v = rv(3)
    sv = StateVector(epochs(3), r, v, frame)
    out = sv.to_frame("ITRF")
    assert len(frame.calls) == 1
    target, time, r_arg, v_arg = frame.calls[0]
    assert target is ITRF and time is sv.time
    assert np.shares_memory(r_arg, r) and np.shares_memory(v_arg, v)
    assert r_arg.flags.writeable and r_arg.shape == (3, 3)
    assert type(out) is StateVector and out.frame is ITRF
    np.testing.assert_array_equal(out.r, 2 * r)
    np.testing.assert_array_equal(out.v, 2 * v)
    assert bool(np.all(out.time == sv.time)) and out.time is not sv.time
    # the source is untouched
    assert sv.frame is frame and np.shares_memory(sv.r, r)


def test_to_frame_of_a_subclass_gives_an_exact_state_vector():
    class Sub(StateVector):
        pass

    r, v = rv(2)
    sub = Sub(epochs(2), r, v)
    assert type(sub.to_frame(GCRF)) is StateVector
    assert type(sub.to_frame(ITRF)) is StateVector


@pytest.mark.parametrize(
    "result, error",
    [
        (lambda r, v: (r, v, r), ValueError),
        (lambda r, v: (r,), ValueError),
        (lambda r, v: None, TypeError),
        (lambda r, v: (np.zeros((len(r), 4)), np.zeros((len(r), 4))), AssertionError),
        (lambda r, v: (r.astype(np.float32), v), ValueError),
        (lambda r, v: (np.zeros((len(r) + 1, 3)),) * 2, AssertionError),
    ],
    ids=["three", "one", "none", "four-columns", "float32", "extra-row"],
)
def test_to_frame_bad_transform_results(result, error):
    r, v = rv(3)
    frame = RecordingFrame(result(r, v))
    sv = StateVector(epochs(3), r, v, frame)
    with pytest.raises(error):
        sv.to_frame(ITRF)
    assert sv.frame is frame and np.shares_memory(sv.r, r)


@pytest.mark.parametrize("pack", [list, lambda x: iter(list(x))], ids=["list", "iterator"])
def test_to_frame_accepts_any_pair(pack):
    r, v = rv(3)
    frame = RecordingFrame(pack((r + 1.0, v + 1.0)))
    out = StateVector(epochs(3), r, v, frame).to_frame(ITRF)
    np.testing.assert_array_equal(out.r, r + 1.0)


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("GCRF", "ITRF"), {}), ((), {"target": "GCRF"}), (("GCRF",), {"frame": "x"})],
)
def test_to_frame_argument_errors(args, kwargs):
    sv, _, _ = make(2)
    with pytest.raises(TypeError):
        sv.to_frame(*args, **kwargs)


def test_to_frame_metadata():
    method = StateVector.to_frame
    assert method.__annotations__ == {"frame": "Frame | str", "return": "StateVector"}
    assert method.__doc__.splitlines()[0] == (
        "StateVector.to_frame(self, frame: Frame | str) -> StateVector"
    )


def test_to_frame_lookup_errors_propagate():
    sv, _, _ = make(2)
    with pytest.raises(Exception) as expected:
        Frame["NO-SUCH-FRAME"]
    with pytest.raises(expected.type):
        sv.to_frame("NO-SUCH-FRAME")


# --- attribute fallback ---------------------------------------------------------------------


@pytest.mark.parametrize("name", ["GCRF", "ITRF", "TEME"])
def test_frame_name_attribute_converts(name):
    frame = RecordingFrame()
    r, v = rv(2)
    sv = StateVector(epochs(2), r, v, frame)
    out = getattr(sv, name)
    assert type(out) is StateVector and out.frame is Frame[name]
    assert len(frame.calls) == 1


def test_frame_name_attribute_uses_a_subclass_to_frame():
    class Sub(StateVector):
        def to_frame(self, frame):
            return ("converted", frame)

    r, v = rv(2)
    assert Sub(epochs(2), r, v).ITRF == ("converted", ITRF)


def test_unknown_attribute_raises_a_value_and_attribute_error():
    sv, _, _ = make(2)
    with pytest.raises(ValueError) as raised:
        sv.no_such_attribute  # noqa: B018
    assert type(raised.value) is FrameAttributeError
    assert isinstance(raised.value, AttributeError)
    assert str(raised.value) == "" and raised.value.args == ()
    assert not hasattr(sv, "no_such_attribute")
    assert getattr(sv, "no_such_attribute", "default") == "default"
    # attribute probes made by IPython and copy keep working
    assert getattr(sv, "_repr_html_", None) is None
    assert issubclass(FrameAttributeError, ValueError)
    assert issubclass(FrameAttributeError, AttributeError)


def test_numpy_and_dir_probes_see_absent_attributes():
    sv, _, _ = make(2)
    wrapped = np.asarray(sv)
    assert wrapped.dtype == object and wrapped.shape == () and wrapped[()] is sv
    assert np.array([sv, sv]).shape == (2,)
    names = dir(sv)
    assert "to_frame" in names and "r" in names and "__dict__" not in names


def test_private_slots_are_not_attributes():
    sv, _, _ = make(2)
    for name in ("_r", "_v"):
        assert not hasattr(sv, name)


@pytest.mark.parametrize("name", ["coe", "lla"])
def test_derived_quantities_are_not_implemented(name):
    sv, _, _ = make(2)
    with pytest.raises(NotImplementedError) as raised:
        getattr(sv, name)
    assert raised.value.args == ()
    with pytest.raises(NotImplementedError):
        hasattr(sv, name)
    assert getattr(StateVector, name).__doc__ == f"StateVector.{name}: ndarray"


def test_getattr_method_always_runs_the_fallback():
    sv, _, _ = make(2)
    with pytest.raises(FrameAttributeError):
        sv.__getattr__("r")
    assert sv.__getattr__("ITRF").frame is ITRF
    with pytest.raises(TypeError):
        sv.__getattr__()
    with pytest.raises(TypeError):
        sv.__getattr__(1)

    class Name(str):
        pass

    with pytest.raises(TypeError):
        sv.__getattr__(Name("ITRF"))
    with pytest.raises(TypeError):
        getattr(sv, Name("ITRF"))
    # a str subclass still finds normal attributes
    assert getattr(sv, Name("frame")) is GCRF


def test_property_docstrings():
    assert StateVector.r.__doc__ == "StateVector.r: ndarray"
    assert StateVector.v.__doc__ == "StateVector.v: ndarray"


# --- garbage collection ---------------------------------------------------------------------


def test_cycle_through_the_frame_is_collected():
    frame = RecordingFrame()
    r, v = rv(2)
    counts = sys.getrefcount(r), sys.getrefcount(v)

    class Sub(StateVector):
        pass

    sv = Sub(epochs(2), r, v, frame)
    frame.owner = sv  # frame -> state vector -> frame
    alive = weakref.ref(sv)
    del sv, frame
    gc.collect()
    assert alive() is None
    assert (sys.getrefcount(r), sys.getrefcount(v)) == counts


def test_gc_sees_frame_time_and_exporters():
    sv, r, v = make(2)
    referents = gc.get_referents(sv)
    for obj in (sv.frame, sv.time, r, v):
        assert any(x is obj for x in referents)
    assert gc.is_tracked(sv)


def test_state_vector_has_no_dict_or_weakref():
    sv, _, _ = make(2)
    with pytest.raises(FrameAttributeError):
        sv.__dict__  # noqa: B018
    with pytest.raises(TypeError):
        weakref.ref(sv)
    with pytest.raises(AttributeError):
        sv.extra = 1


def test_conversion_with_the_frames_service():
    r, v = rv(4, seed=3)
    sv = StateVector(epochs(4), r, v)
    itrf = sv.ITRF
    expected_r, expected_v = GCRF.transform_to(ITRF, sv.time, r, v)
    np.testing.assert_array_equal(itrf.r, expected_r)
    np.testing.assert_array_equal(itrf.v, expected_v)
    assert not np.shares_memory(itrf.r, r)
    back = itrf.to_frame(GCRF)
    np.testing.assert_allclose(back.r, r, rtol=0, atol=1e-6)
    np.testing.assert_allclose(back.v, v, rtol=0, atol=1e-9)
    assert back.frame is GCRF


def test_arrays_and_conversions_do_not_keep_the_source_alive():
    class Sub(StateVector):  # a Python subclass, so it can be weakly referenced
        pass

    r, v = rv(3)
    source = Sub(epochs(3), r, v)
    alive = weakref.ref(source)
    same = source.to_frame(source.frame)
    a = source.r
    del source
    assert alive() is None
    # repeated conversions to the same frame view the caller's array directly
    for _ in range(5):
        same = same.to_frame(GCRF)
    assert same.r.base is r and a.base is r
    same.r[0, 0] = 4.5
    assert r[0, 0] == 4.5 == a[0, 0]


@pytest.mark.parametrize("subclass", [False, True])
def test_fallback_asks_the_frames_service_once(monkeypatch, subclass):
    asked = []
    is_frame = Frame.is_frame

    def counting(name):
        asked.append(name)
        return is_frame(name)

    monkeypatch.setattr(Frame, "is_frame", staticmethod(counting))

    class Sub(StateVector):
        pass

    r, v = rv(2)
    sv = (Sub if subclass else StateVector)(epochs(2), r, v)
    assert not hasattr(sv, "nothing")
    assert sv.ITRF.frame is ITRF
    assert asked == ["nothing", "ITRF"]
    with pytest.raises(AttributeError):
        sv.__getattribute__("ITRF")  # normal lookup only
    assert sv.__getattribute__("frame") is GCRF
