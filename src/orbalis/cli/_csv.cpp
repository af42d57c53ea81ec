// Native helpers of the command line's CSV converter: reading three number columns out of
// a chunk of CSV lines, and appending converted columns to those lines. Python's float()
// and repr() cost about a microsecond per number; these run at tens of nanoseconds, which
// is what lets a conversion stream stay bound by the geodesy kernels.
#include "pyref.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL orbalis_cli_csv_ARRAY_API
#include <numpy/arrayobject.h>

#include <string>
#include <string_view>

#include "csv_numbers.hpp"

namespace orbalis::cli {
namespace {

using py::Ref;

constexpr int kColumns = 3;

// The text of one line as UTF-8, without its line ending.
bool line_text(PyObject* line, std::string_view& text) {
    if (!PyUnicode_Check(line)) {
        PyErr_Format(PyExc_TypeError, "lines must be str, got %.100s", Py_TYPE(line)->tp_name);
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(line, &size);
    if (!data) return false;
    text = std::string_view(data, static_cast<std::size_t>(size));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return true;
}

PyObject* new_column(Py_ssize_t n) {
    npy_intp dims[1] = {n};
    return PyArray_SimpleNew(1, dims, NPY_DOUBLE);
}

// read_columns(lines, index, first_line) -> (a, b, c) | None
PyObject* read_columns(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "read_columns(lines, index, first_line)");
        return nullptr;
    }
    PyObject* lines = args[0];
    if (!PyList_Check(lines)) {
        PyErr_SetString(PyExc_TypeError, "read_columns: lines must be a list of str");
        return nullptr;
    }
    Py_ssize_t index[kColumns];
    if (!PyTuple_Check(args[1]) || PyTuple_GET_SIZE(args[1]) != kColumns) {
        PyErr_SetString(PyExc_TypeError, "read_columns: index must be a tuple of 3 ints");
        return nullptr;
    }
    Py_ssize_t width = 0;
    for (int k = 0; k < kColumns; ++k) {
        index[k] = PyLong_AsSsize_t(PyTuple_GET_ITEM(args[1], k));
        if (index[k] < 0) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "negative column index");
            return nullptr;
        }
        if (index[k] + 1 > width) width = index[k] + 1;
    }
    long long first_line = PyLong_AsLongLong(args[2]);
    if (first_line == -1 && PyErr_Occurred()) return nullptr;

    const Py_ssize_t n = PyList_GET_SIZE(lines);
    Ref columns[kColumns];
    double* out[kColumns];
    for (int k = 0; k < kColumns; ++k) {
        columns[k] = Ref::steal(new_column(n));
        if (!columns[k]) return nullptr;
        out[k] =
            static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(columns[k].get())));
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        std::string_view text;
        if (!line_text(PyList_GET_ITEM(lines, i), text)) return nullptr;
        if (text.find('"') != std::string_view::npos) Py_RETURN_NONE;  // quoted: csv module
        // Split on commas once, taking the wanted fields as they pass.
        std::string_view wanted[kColumns];
        Py_ssize_t field = 0;
        std::size_t start = 0;
        while (true) {
            std::size_t comma = text.find(',', start);
            std::string_view cell = text.substr(
                start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
            for (int k = 0; k < kColumns; ++k) {
                if (index[k] == field) wanted[k] = cell;
            }
            ++field;
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        const long long line_number = first_line + static_cast<long long>(i);
        if (field < width) {
            PyErr_Format(PyExc_ValueError, "line %lld: expected at least %zd fields, got %zd",
                         line_number, width, field);
            return nullptr;
        }
        for (int k = 0; k < kColumns; ++k) {
            if (!csv::parse_double(wanted[k], out[k][i])) {
                Ref cell = Ref::steal(PyUnicode_DecodeUTF8(
                    wanted[k].data(), static_cast<Py_ssize_t>(wanted[k].size()), "replace"));
                if (!cell) return nullptr;
                PyErr_Format(PyExc_ValueError, "line %lld: %R is not a number", line_number,
                             cell.get());
                return nullptr;
            }
        }
    }
    return PyTuple_Pack(3, columns[0].get(), columns[1].get(), columns[2].get());
}

// append_columns(lines, a, b, c) -> str: each line, then ",a[i],b[i],c[i]" and a newline.
PyObject* append_columns(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1 + kColumns || !PyList_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "append_columns(lines: list[str], a, b, c)");
        return nullptr;
    }
    PyObject* lines = args[0];
    const Py_ssize_t n = PyList_GET_SIZE(lines);
    Ref arrays[kColumns];
    const double* values[kColumns];
    for (int k = 0; k < kColumns; ++k) {
        arrays[k] = Ref::steal(PyArray_FROMANY(args[1 + k], NPY_DOUBLE, 1, 1,
                                               NPY_ARRAY_IN_ARRAY | NPY_ARRAY_FORCECAST));
        if (!arrays[k]) return nullptr;
        auto* a = reinterpret_cast<PyArrayObject*>(arrays[k].get());
        if (PyArray_DIM(a, 0) != n) {
            PyErr_Format(PyExc_ValueError, "append_columns: column %d has %zd values for %zd lines",
                         k, static_cast<Py_ssize_t>(PyArray_DIM(a, 0)), n);
            return nullptr;
        }
        values[k] = static_cast<const double*>(PyArray_DATA(a));
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(n) * 96);
    char number[csv::kMaxDoubleChars];
    for (Py_ssize_t i = 0; i < n; ++i) {
        std::string_view line;
        if (!line_text(PyList_GET_ITEM(lines, i), line)) return nullptr;
        text.append(line);
        for (int k = 0; k < kColumns; ++k) {
            text.push_back(',');
            text.append(number, csv::write_double(values[k][i], number));
        }
        text.push_back('\n');
    }
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyMethodDef g_functions[] = {
    {"read_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_columns)),
     METH_FASTCALL,
     "read_columns(lines, index, first_line) -> (a, b, c) | None\n\n"
     "The fields at the three column `index`es of each line, as float64 arrays; None when a\n"
     "line holds a double quote (quoted CSV, for the csv module). ValueError names the line\n"
     "(counted from `first_line`) of a short row or a field that is not a number."},
    {"append_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(append_columns)),
     METH_FASTCALL,
     "append_columns(lines, a, b, c) -> str\n\n"
     "Each line without its line ending, then the values of a, b and c in shortest\n"
     "round-trip form, comma-separated, and a newline."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (PyArray_ImportNumPyAPI() < 0) return -1;
    return PyModule_AddFunctions(module, g_functions);
}

}  // namespace
}  // namespace orbalis::cli

PyMODINIT_FUNC PyInit__csv() {
    return orbalis::py::init_module<orbalis::cli::exec_module>(
        "orbalis.cli._csv", "Native number fields of the command line's CSV converter.");
}
