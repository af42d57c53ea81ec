"""StateVector: construction and its order of checks, arrays viewed in place (memory shared
both ways, exporters kept alive), equality, frame conversion with to_frame and through
attribute names, and garbage collection of cycles through a state vector."""

import gc
import operator
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


def make(n=2):
    r, v = rv(n)
    return StateVector(epochs(n), r, v), r, v


class Sub(StateVector):
    """A Python subclass: its instances can be weakly referenced."""


class Name(str):
    pass


_DOUBLE = object()


class RecordingFrame(Frame):
    """A frame outside the frames registry whose transform_to records its calls and returns
    a preset result (by default the arrays doubled)."""

    name = "RECORDING"

    def __new__(cls, result=_DOUBLE):
        self = object.__new__(cls)
        self.calls, self.result = [], result
        return self

    def transform_to(self, target, time, r, v):
        self.calls.append((target, time, r, v))
        return (r * 2.0, v * 2.0) if self.result is _DOUBLE else self.result


with pytest.raises(Exception) as _lookup:
    Frame["NO-SUCH-FRAME"]
LOOKUP_ERROR = _lookup.type


# --- construction -----------------------------------------------------------------------


def test_construction_by_position_and_keyword():
    r, v = rv(3)
    t = epochs(3)
    a = StateVector(t, r, v)
    b = StateVector(time=t, v=v, r=r, frame="GCRF")
    assert a.frame is Frame["GCRF"] is b.frame and isinstance(a, State)
    # Time(time) is applied: the stored time is a new object for the same epochs
    assert type(a.time) is Time and a.time is not t and bool(np.all(a.time == t))
    assert StateVector(t, r, v, ITRF).frame is ITRF
    assert StateVector(t, r, v, "TEME").frame is TEME
    with pytest.raises(TypeError, match="unhashable"):
        hash(a)
    assert StateVector.__hash__ is None
    s = State(1, 2, x=3)  # a plain State ignores its arguments and hashes by identity
    assert type(s) is State and s.frame is None and s.time is None and hash(s) == hash(s)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda sv: StateVector(), TypeError),
        (lambda sv: StateVector(1, 2), TypeError),
        (lambda sv: StateVector(1, 2, 3, 4, 5), TypeError),
        (lambda sv: StateVector(1, 2, 3, frames=0), TypeError),
        (lambda sv: StateVector(1, 2, 3, time=1), TypeError),
        # the frame is resolved before the time and the arrays are looked at
        (lambda sv: StateVector(object(), "no array", None, "NO-SUCH-FRAME"), LOOKUP_ERROR),
        (lambda sv: sv.to_frame(), TypeError),
        (lambda sv: sv.to_frame("GCRF", "ITRF"), TypeError),
        (lambda sv: sv.to_frame(target="GCRF"), TypeError),
        (lambda sv: sv.to_frame("GCRF", frame="x"), TypeError),
        (lambda sv: sv.to_frame("NO-SUCH-FRAME"), LOOKUP_ERROR),
        (lambda sv: sv < sv, TypeError),
        (lambda sv: sv <= sv, TypeError),
        (lambda sv: sv > sv, TypeError),
        (lambda sv: sv >= sv, TypeError),
        (lambda sv: weakref.ref(sv), TypeError),
        (lambda sv: sv.__dict__, FrameAttributeError),
        (lambda sv: setattr(sv, "extra", 1), AttributeError),
        (lambda sv: setattr(sv, "frame", None), AttributeError),
        (lambda sv: setattr(sv, "time", None), AttributeError),
        (lambda sv: delattr(sv, "frame"), AttributeError),
        (lambda sv: delattr(sv, "time"), AttributeError),
        # __getattr__ called directly takes one str
        (lambda sv: sv.__getattr__(), TypeError),
        (lambda sv: sv.__getattr__(1), TypeError),
        (lambda sv: sv.__getattr__(b"ITRF"), TypeError),
    ],
)
def test_misuse_raises(call, error):
    with pytest.raises(error):
        call(make()[0])


def test_time_error_comes_before_array_errors():
    with pytest.raises(Exception) as expected:
        Time(object())
    with pytest.raises(expected.type) as raised:
        StateVector(object(), "not an array", [1.0])
    assert str(raised.value) == str(expected.value)


def test_frame_lookup_result_must_be_a_frame(monkeypatch):
    monkeypatch.setattr(type(Frame), "__getitem__", lambda cls, name: "not a frame")
    with pytest.raises(TypeError, match="not a"):
        StateVector(epochs(2), *rv(2), "GCRF")


@pytest.mark.parametrize(
    "bad, error, match",
    [
        (np.zeros(3), ValueError, None),
        (np.zeros((2, 3, 1)), ValueError, None),
        (np.zeros((2, 3), dtype=np.float32), ValueError, None),
        (np.zeros((2, 3), dtype=np.int64), ValueError, None),
        (np.zeros((2, 3), dtype=">f8" if sys.byteorder == "little" else "<f8"), ValueError, None),
        (np.zeros((2, 3), dtype=np.complex128), ValueError, None),
        (np.broadcast_to(np.zeros((2, 3)), (2, 3)), ValueError, "read-only"),
        (bytes(48), ValueError, "read-only"),  # an exporter other than NumPy
        ([[0.0] * 3] * 2, TypeError, None),  # no buffer interface
        (object(), TypeError, None),
    ],
    ids=["1d", "3d", "f4", "i8", "swapped", "complex", "read-only", "bytes", "list", "object"],
)
@pytest.mark.parametrize("which", ["r", "v"])
def test_array_argument_errors(bad, error, match, which):
    r, v = rv(2)
    with pytest.raises(error, match=match):
        StateVector(epochs(2), **{"r": r, "v": v, which: bad})


@pytest.mark.parametrize(
    "r_shape, v_shape, n_time",
    [((3, 3), (4, 3), 3), ((3, 3), (3, 3), 4), ((3, 4), (3, 4), 3), ((3, 3), (3, 4), 3)]
    + [(None, None, 1)],
    ids=["rows-differ", "time-size-differs", "four-columns", "columns-differ", "none"],
)
def test_shape_assertions_release_the_arrays(r_shape, v_shape, n_time):
    r, v = (None if s is None else np.zeros(s) for s in (r_shape, v_shape))
    arrays = [a for a in (r, v) if a is not None]
    before = [sys.getrefcount(a) for a in arrays]
    with pytest.raises(AssertionError) as raised:
        StateVector(epochs(n_time), r, v)
    assert raised.value.args == ()
    assert [sys.getrefcount(a) for a in arrays] == before


class Refusing:
    def __eq__(self, other):
        raise ZeroDivisionError("size compared")


@pytest.mark.parametrize(
    "size, error",
    [
        (np.int64(2), None),
        (2.0, None),
        (True, AssertionError),  # == 1
        (np.int64(3), AssertionError),
        (2**70, AssertionError),
        (-(2**70), AssertionError),
        (Refusing(), ZeroDivisionError),
    ],
    ids=["numpy-int", "float", "bool", "numpy-int-differs", "huge", "huge-negative", "raises"],
)
def test_time_size_is_compared_as_a_python_object(monkeypatch, size, error):
    monkeypatch.setattr(Time, "size", property(lambda self: size))
    if error is None:
        assert StateVector(epochs(2), *rv(2)).time.size is size
    else:
        with pytest.raises(error):
            StateVector(epochs(2), *rv(2))


def test_construction_of_subclasses_runs_their_new_and_init():
    class Init(StateVector):
        def __init__(self, time, r, v, frame="GCRF"):
            self.tag = frame

    class New(StateVector):
        def __new__(cls, n):
            return super().__new__(cls, epochs(n), *rv(n))

    assert Init(epochs(2), *rv(2), frame="ITRF").tag == "ITRF"
    assert type(New(3)) is New and New(3).r.shape == (3, 3)
    direct = StateVector.__new__(StateVector, epochs(2), *rv(2), frame="ITRF")
    assert type(direct) is StateVector and direct.frame is ITRF


# --- views --------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "pair",
    [
        lambda b: (b[:, :3].copy(), b[:, 3:].copy()),
        lambda b: (np.asfortranarray(b[:, :3]), np.asfortranarray(b[:, 3:])),
        lambda b: (b[:, 0:3], b[:, 3:6]),
        lambda b: (b[::-1, :3], b[::-1, 3:].copy()),
        lambda b: (b.reshape(10, 3)[::2], b.reshape(10, 3)[1::2]),
    ],
    ids=["contiguous", "fortran", "column-slice", "reversed-rows", "every-other-row"],
)
def test_memory_is_shared_both_ways_with_any_strides(pair):
    r, v = pair(np.arange(30.0).reshape(5, 6))
    sv = StateVector(epochs(5), r, v)
    for got, given in ((sv.r, r), (sv.v, v)):
        assert got.dtype == np.float64 and got.shape == (5, 3) and got.flags.writeable
        assert got.strides == given.strides
        assert got.__array_interface__["data"][0] == given.__array_interface__["data"][0]
        np.testing.assert_array_equal(got, given)
    a = sv.r
    assert a is not sv.r  # a new array on every read
    a[1, 2] = -1.5
    assert r[1, 2] == -1.5
    v[4, 1] = 123.25
    assert sv.v[4, 1] == 123.25


def test_exporter_held_until_the_last_array_goes():
    r, v = rv(3)
    counts = sys.getrefcount(r), sys.getrefcount(v)
    sv = StateVector(epochs(3), r, v)
    assert sys.getrefcount(r) > counts[0] and sys.getrefcount(v) > counts[1]
    a = sv.r
    del sv
    assert sys.getrefcount(r) > counts[0]  # the array read keeps the export alive
    del a
    assert (sys.getrefcount(r), sys.getrefcount(v)) == counts
    # A bytearray cannot be resized while a buffer export exists: the resize attempt
    # proves the export is held exactly as long as the state vector or its arrays live.
    store = bytearray(2 * 3 * 8 * 2)
    mv = memoryview(store).cast("d", (4, 3))
    sv = StateVector(epochs(2), mv[:2], mv[2:])
    del mv
    with pytest.raises(BufferError):
        store.extend(b"x")
    r = sv.r
    del sv
    r[1, 2] = 5.0  # the memory is still valid through the array
    assert np.frombuffer(store, dtype=np.float64)[5] == 5.0
    with pytest.raises(BufferError):
        store.extend(b"x")
    del r
    store.extend(b"x")


# --- equality ------------------------------------------------------------------------------


def test_equality_results():
    a, r, v = make()
    b = StateVector(epochs(2), r.copy(), v.copy())
    assert type(a == b) is np.bool_ and (a == b) and (a != b) is False
    b.r[1, 1] = np.nextafter(b.r[1, 1], np.inf)  # exact, no tolerance
    assert type(a == b) is np.bool_ and not (a == b) and (a != b) is True
    # another frame object: a Python bool, whatever the arrays hold
    assert (a == StateVector(epochs(2), r, v, ITRF)) is False
    assert (a != StateVector(epochs(2), r, v, ITRF)) is True
    # signed zeros compare equal, as NumPy's == does; NaN never does
    r[0, 0] = 0.0
    c = StateVector(epochs(2), r.copy(), v)
    c.r[0, 0] = -0.0
    assert a == c
    r[0, 0] = np.nan
    assert not (a == a) and (a != a) is True


def test_equality_compares_times_first_and_stops_at_the_first_false_result():
    reads = []

    class Counting(StateVector):
        @property
        def r(self):
            reads.append("r")
            return StateVector.r.__get__(self)

    r, v = rv(2)
    a = Counting(epochs(2), r, v)
    b = Counting(Time(np.array(["2001-01-01", "2001-01-02"], dtype="datetime64[s]")), r, v)
    eq = a == b
    assert type(eq) is np.bool_ and not eq
    assert reads == []  # the times differ: positions are never read
    assert a == Counting(epochs(2), r, v)
    assert reads == ["r", "r"]


@pytest.mark.parametrize(
    "other, text",
    [(5, "<class 'int'>"), (None, "<class 'NoneType'>"), (State(), f"{State}")],
    ids=["int", "none", "state"],
)
@pytest.mark.parametrize("op", [operator.eq, operator.ne, lambda a, b: b == a])
def test_comparing_with_a_non_state_vector(other, text, op):
    with pytest.raises(TypeError) as raised:
        op(make()[0], other)
    assert str(raised.value) == "Cannot compare StateVector with " + text


# --- frame conversion -----------------------------------------------------------------------


@pytest.mark.parametrize("cls", [StateVector, Sub])
def test_to_frame_transforms_only_for_another_frame(cls):
    frame = RecordingFrame()
    r, v = rv(3)
    sv = cls(epochs(3), r, v, frame)
    for out in (sv.to_frame(frame), sv.to_frame(frame=frame)):
        assert type(out) is StateVector and out is not sv and out.frame is frame
        assert np.shares_memory(out.r, r) and np.shares_memory(out.v, v)
    same = cls(epochs(3), r, v).to_frame("GCRF")  # a name resolving to the same object
    assert type(same) is StateVector and same.frame is GCRF and np.shares_memory(same.r, r)
    assert frame.calls == []
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
    assert sv.frame is frame and np.shares_memory(sv.r, r)  # the source is untouched


@pytest.mark.parametrize(
    "result, error",
    [
        (lambda r, v: (r, v, r), ValueError),
        (lambda r, v: (r,), ValueError),
        (lambda r, v: None, TypeError),
        (lambda r, v: (np.zeros((len(r), 4)), np.zeros((len(r), 4))), AssertionError),
        (lambda r, v: (r.astype(np.float32), v), ValueError),
        (lambda r, v: (np.zeros((len(r) + 1, 3)),) * 2, AssertionError),
        (lambda r, v: [r + 1.0, v + 1.0], None),
        (lambda r, v: iter([r + 1.0, v + 1.0]), None),
    ],
    ids=["three", "one", "none", "four-columns", "float32", "extra-row", "list", "iterator"],
)
def test_to_frame_transform_results(result, error):
    r, v = rv(3)
    frame = RecordingFrame(result(r, v))
    sv = StateVector(epochs(3), r, v, frame)
    if error is None:
        np.testing.assert_array_equal(sv.to_frame(ITRF).r, r + 1.0)
        return
    with pytest.raises(error):
        sv.to_frame(ITRF)
    assert sv.frame is frame and np.shares_memory(sv.r, r)


def test_docstrings_and_annotations():
    method = StateVector.to_frame
    assert method.__annotations__ == {"frame": "Frame | str", "return": "StateVector"}
    assert method.__doc__.splitlines()[0] == (
        "StateVector.to_frame(self, frame: Frame | str) -> StateVector"
    )
    for name in ("r", "v", "coe", "lla"):
        assert getattr(StateVector, name).__doc__ == f"StateVector.{name}: ndarray"


def test_conversion_with_the_frames_service():
    r, v = rv(4, seed=3)
    sv = StateVector(epochs(4), r, v)
    itrf = sv.ITRF
    np.testing.assert_array_equal((itrf.r, itrf.v), GCRF.transform_to(ITRF, sv.time, r, v))
    assert not np.shares_memory(itrf.r, r)
    back = itrf.to_frame(GCRF)
    np.testing.assert_allclose(back.r, r, rtol=0, atol=1e-6)
    np.testing.assert_allclose(back.v, v, rtol=0, atol=1e-9)
    assert back.frame is GCRF


# --- attribute fallback ---------------------------------------------------------------------


class Shouting(str):
    """A str subclass whose own methods would change a lookup that used them."""

    def __eq__(self, other):
        return str.__eq__(self.upper(), other)

    def __hash__(self):
        return hash(self.upper())


@pytest.mark.parametrize("kind", [str, Name, Shouting], ids=["str", "str-subclass", "odd-eq"])
@pytest.mark.parametrize("cls", [StateVector, Sub])
def test_frame_name_attributes_convert_asking_the_frames_service_once(monkeypatch, cls, kind):
    asked = []
    is_frame = Frame.is_frame
    monkeypatch.setattr(Frame, "is_frame", staticmethod(lambda n: asked.append(n) or is_frame(n)))
    frame = RecordingFrame()
    sv = cls(epochs(2), *rv(2), frame)
    assert not hasattr(sv, kind("nothing"))
    assert getattr(sv, kind("itrf"), "absent") == "absent"  # the plain text, not its upper()
    for name in ("GCRF", "ITRF", "TEME"):
        out = getattr(sv, kind(name))
        assert type(out) is StateVector and out.frame is Frame[name]
    # a str subclass reaches the frames service as the plain str of the same text
    assert asked == ["nothing", "itrf", "GCRF", "ITRF", "TEME"] and len(frame.calls) == 3
    assert all(type(name) is str for name in asked)
    with pytest.raises(AttributeError):
        sv.__getattribute__("ITRF")  # normal lookup only
    assert sv.__getattribute__("frame") is frame

    class Own(StateVector):
        def to_frame(self, frame):
            return ("converted", frame)

    assert Own(epochs(2), *rv(2)).ITRF == ("converted", ITRF)


def test_unknown_attribute_raises_a_value_and_attribute_error():
    sv = make()[0]
    with pytest.raises(ValueError) as raised:
        sv.no_such_attribute  # noqa: B018
    assert type(raised.value) is FrameAttributeError
    assert isinstance(raised.value, AttributeError)
    assert str(raised.value) == "" and raised.value.args == ()
    # hasattr/getattr probes (IPython, copy, the private slots) see an absent attribute
    for name in ("no_such_attribute", "_r", "_v"):
        assert not hasattr(sv, name)
    assert getattr(sv, "no_such_attribute", "default") == "default"
    assert getattr(sv, "_repr_html_", None) is None
    wrapped = np.asarray(sv)
    assert wrapped.dtype == object and wrapped.shape == () and wrapped[()] is sv
    assert np.array([sv, sv]).shape == (2,)
    names = dir(sv)
    assert "to_frame" in names and "r" in names and "__dict__" not in names
    # calling __getattr__ directly always runs the fallback
    with pytest.raises(FrameAttributeError):
        sv.__getattr__("r")
    assert sv.__getattr__("ITRF").frame is ITRF
    assert getattr(sv, Name("frame")) is GCRF  # a str subclass still finds normal attributes
    # the derived quantities raise their own error, which hasattr does not swallow
    for name, probe in [("coe", getattr), ("lla", getattr), ("coe", hasattr), ("lla", hasattr)]:
        with pytest.raises(NotImplementedError) as raised:
            probe(sv, name)
        assert raised.value.args == ()


# --- garbage collection ---------------------------------------------------------------------


def test_cycle_through_the_frame_is_collected_and_gc_sees_the_members():
    frame = RecordingFrame()
    r, v = rv(2)
    counts = sys.getrefcount(r), sys.getrefcount(v)
    sv = Sub(epochs(2), r, v, frame)
    frame.owner = sv  # frame -> state vector -> frame
    alive = weakref.ref(sv)
    del sv, frame
    gc.collect()
    assert alive() is None
    assert (sys.getrefcount(r), sys.getrefcount(v)) == counts
    sv = StateVector(epochs(2), r, v)
    referents = gc.get_referents(sv)
    assert gc.is_tracked(sv) and all(
        any(x is o for x in referents) for o in (sv.frame, sv.time, r, v)
    )


def test_arrays_and_conversions_do_not_keep_the_source_alive():
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


# Each case builds a garbage cycle through a state vector that views a buffer, collects it,
# and prints one labelled line; a crash cuts the output short at the failing case.
GC_WITH_EXPORTERS = """
import gc, weakref
import numpy as np
from orbalis.satellite.satellite import StateVector
from orbalis.time.time import Time

class SV(StateVector):
    pass

class Arr(np.ndarray):
    pass

def report(case, ok):
    print(case, "ok" if ok else "FAILED", flush=True)

t = Time(2460000.5, format="jd")

# a memoryview exporter referenced only by a state vector in a cycle
mv = memoryview(bytearray(24)).cast("d", (1, 3))
sv = SV(t, mv, np.ones((1, 3))); sv.me = sv
del mv, sv; gc.collect()
report("memoryview-exporter", True)

# the export on the memoryview is released exactly once, with the state vector
store = bytearray(48)
mv = memoryview(store).cast("d", (2, 3))
sv = SV(t, mv[:1], mv[1:]); sv.me = sv
alive = weakref.ref(sv)
del mv, sv; gc.collect()
store.extend(b"x")  # BufferError while any export remains
report("memoryview-released", alive() is None)

# a cycle through a NumPy exporter: an ndarray subclass instance holding the state vector
a = np.ones((1, 3)).view(Arr)
sv = SV(t, a, np.ones((1, 3))); a.sv = sv
alive = weakref.ref(sv), weakref.ref(a)
del a, sv; gc.collect()
report("ndarray-cycle", all(ref() is None for ref in alive))
"""


def test_gc_of_cycles_through_buffer_exporters(python_subprocess):
    lines = python_subprocess(GC_WITH_EXPORTERS, check=False).stdout.splitlines()
    expected = ["memoryview-exporter", "memoryview-released", "ndarray-cycle"]
    assert lines == [f"{case} ok" for case in expected]


def owner_and_pair(kind):
    """(the array owning the data, r, v) for exporters of several layouts."""
    if kind == "owners":
        r, v = rv(3)
        return r, r, v
    big = np.arange(36.0).reshape(3, 12).copy()
    if kind == "column-slices":
        return big, big[:, :3], big[:, 6:9]
    if kind == "reshaped-view":
        return big, big.reshape(12, 3)[::4], big.reshape(12, 3)[1::4]
    f = np.asfortranarray(big[:, :6])
    return f, f[:, :3], f[:, 3:]


@pytest.mark.parametrize("kind", ["owners", "column-slices", "reshaped-view", "fortran"])
def test_numpy_memory_cannot_be_reallocated_under_a_state_vector(kind):
    owner, r, v = owner_and_pair(kind)
    data = owner.__array_interface__["data"][0]
    sv = StateVector(epochs(3), r, v)
    expected = sv.r.copy()
    for shape in ((1000, owner.shape[1]), (1, 1)):
        with pytest.raises(ValueError, match="cannot resize"):
            owner.resize(shape, refcheck=False)
    assert owner.__array_interface__["data"][0] == data
    np.testing.assert_array_equal(sv.r, expected)
    del sv
    assert weakref.getweakrefcount(owner) == 0  # released with the state vector
    with pytest.raises(AssertionError):  # a failed construction releases its pins too
        StateVector(epochs(4), r, v)
    assert weakref.getweakrefcount(owner) == 0
    owner.resize((1000, owner.shape[1]), refcheck=False)
    assert owner.shape[0] == 1000


def test_exporters_other_than_numpy_are_not_resizable_while_viewed():
    import array

    store = array.array("d", bytes(48))
    mv = memoryview(store).cast("B").cast("d", (2, 3))
    sv = StateVector(epochs(1), mv[:1], mv[1:])
    del mv
    with pytest.raises(BufferError):
        store.extend([1.0])
    del sv
    store.extend([1.0])
