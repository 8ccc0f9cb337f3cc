#include "python/args.h"

#include <string>
#include <vector>

namespace lexaro::py {

namespace {

struct Keyword {
    PyObject* name;
    PyObject* value;
};

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the list CPython prints for missing arguments.
std::string join_missing(const std::vector<const char*>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        text += std::string("'") + names[i] + "'";
    }
    return text;
}

size_t required(const Signature& sig) {
    size_t n = 0;
    while (n < sig.params.size() && sig.params[n].default_text == nullptr) ++n;
    return n;
}

void raise_too_many_positional(const Signature& sig, Py_ssize_t nargs) {
    // Counts include the receiver, as Python reports them for a method.
    const size_t most = sig.params.size() + 1;
    const size_t least = required(sig) + 1;
    const size_t given = size_t(nargs) + 1;
    const char* verb = given == 1 ? "was" : "were";
    if (least < most) {
        PyErr_Format(PyExc_TypeError, "Tokenizer.%s() takes from %zu to %zu positional arguments but %zu %s given",
                     sig.name, least, most, given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "Tokenizer.%s() takes %zu positional argument%s but %zu %s given", sig.name, most,
                     most == 1 ? "" : "s", given, verb);
    }
}

// `keyword(i)` gives the i-th of `n_keywords` keyword arguments in call order.
template <class KeywordAt>
bool bind(const Signature& sig, PyObject* const* positional, Py_ssize_t nargs, Py_ssize_t n_keywords,
          KeywordAt&& keyword, PyObject** out) {
    const size_t n_params = sig.params.size();
    for (size_t i = 0; i < n_params; ++i) out[i] = i < size_t(nargs) ? positional[i] : nullptr;

    // Keywords first, in call order, as the interpreter checks them.
    for (Py_ssize_t k = 0; k < n_keywords; ++k) {
        const Keyword kw = keyword(k);
        if (!PyUnicode_Check(kw.name)) {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            return false;
        }
        size_t slot = n_params;
        for (size_t i = 0; i < n_params; ++i) {
            if (PyUnicode_CompareWithASCIIString(kw.name, sig.params[i].name) == 0) {
                slot = i;
                break;
            }
        }
        if (slot == n_params) {
            PyErr_Format(PyExc_TypeError, "Tokenizer.%s() got an unexpected keyword argument '%S'", sig.name, kw.name);
            return false;
        }
        if (out[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "Tokenizer.%s() got multiple values for argument '%s'", sig.name,
                         sig.params[slot].name);
            return false;
        }
        out[slot] = kw.value;
    }

    if (size_t(nargs) > n_params) {
        raise_too_many_positional(sig, nargs);
        return false;
    }

    std::vector<const char*> missing;
    for (size_t i = 0; i < required(sig); ++i) {
        if (out[i] == nullptr) missing.push_back(sig.params[i].name);
    }
    if (missing.empty()) return true;
    PyErr_Format(PyExc_TypeError, "Tokenizer.%s() missing %zu required positional argument%s: %s", sig.name,
                 missing.size(), missing.size() == 1 ? "" : "s", join_missing(missing).c_str());
    return false;
}

}  // namespace

bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    nargs = PyVectorcall_NARGS(nargs);
    const Py_ssize_t n_keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    // Keyword values follow the positional ones in `args`.
    auto keyword = [&](Py_ssize_t k) { return Keyword{PyTuple_GET_ITEM(kwnames, k), args[nargs + k]}; };
    return bind(sig, args, nargs, n_keywords, keyword, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
    std::vector<Keyword> keywords;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *name = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &name, &value)) keywords.push_back({name, value});
    }
    auto keyword = [&](Py_ssize_t k) { return keywords[size_t(k)]; };
    return bind(sig, PySequence_Fast_ITEMS(args), PyTuple_GET_SIZE(args), Py_ssize_t(keywords.size()), keyword, out);
}

}  // namespace lexaro::py
