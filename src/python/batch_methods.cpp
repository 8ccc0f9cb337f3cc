// Batch methods: the texts (str or bytes-like) are taken while the interpreter lock is held, the core spreads them over
// its worker threads with the lock released, and the results become Python objects once it is back.
#include "python/batch_methods.h"

#include "python/args.h"
#include "python/batch_texts.h"
#include "python/convert.h"
#include "python/encode_methods.h"
#include "python/fault.h"
#include "python/tokenizer_object.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/threads.h"

namespace lexaro::py {

namespace {

constexpr const char* BATCH_PARAMS[] = {"texts", "threads", "with_special"};
constexpr const char* TRUNCATE_BATCH_PARAMS[] = {"texts", "max_tokens", "threads"};

constexpr Signature ENCODE_BATCH_SIGNATURE{"Tokenizer.encode_batch", BATCH_PARAMS, 1};
constexpr Signature ENCODE_BATCH_TO_NUMPY_SIGNATURE{"Tokenizer.encode_batch_to_numpy", BATCH_PARAMS, 1};
constexpr Signature COUNT_BATCH_SIGNATURE{"Tokenizer.count_batch", BATCH_PARAMS, 1};
constexpr Signature TRUNCATE_BATCH_SIGNATURE{"Tokenizer.truncate_batch", TRUNCATE_BATCH_PARAMS, 2};

struct BatchArgs {
    BatchTexts texts;
    uint64_t threads = 0;
    bool with_special = false;
};

// texts, threads=0, with_special=False: converted in that order.
bool bind_batch(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BatchArgs& out) {
    PyObject* bound[3];
    if (!bind_fastcall(sig, args, nargs, kwnames, bound)) return false;
    if (!to_batch_texts(bound[0], "texts", out.texts)) return false;
    if (bound[1] != nullptr && !to_count(bound[1], "threads", out.threads)) return false;
    return bound[2] == nullptr || to_flag(bound[2], "with_special", out.with_special);
}

template <class T>
T little_endian(T v) {
    if constexpr (std::endian::native == std::endian::little) {
        return v;
    } else {
        T r = 0;
        for (size_t k = 0; k < sizeof(T); ++k) r = T(r << 8) | T((v >> (8 * k)) & 0xFF);
        return r;
    }
}

// n + 1 offsets, little-endian whatever the host: text i has ids[offsets[i] .. offsets[i + 1]].
std::vector<int64_t> id_offsets(const std::vector<std::vector<uint32_t>>& per_text) {
    std::vector<int64_t> offsets;
    offsets.reserve(per_text.size() + 1);
    int64_t total = 0;
    offsets.push_back(0);
    for (const std::vector<uint32_t>& ids : per_text) offsets.push_back(little_endian(total += int64_t(ids.size())));
    return offsets;
}

// The ids of texts [first, last) back to back from `out`, 4 bytes each, little-endian; each text's vector
// is freed once copied.
void copy_ids(std::vector<std::vector<uint32_t>>& per_text, size_t first, size_t last, char* out) {
    for (size_t i = first; i < last; ++i) {
        const std::vector<uint32_t>& ids = per_text[i];
        if constexpr (std::endian::native == std::endian::little) {
            if (!ids.empty()) std::memcpy(out, ids.data(), ids.size() * 4);
        } else {
            for (size_t k = 0; k < ids.size(); ++k) {
                const uint32_t le = little_endian(ids[k]);
                std::memcpy(out + 4 * k, &le, 4);
            }
        }
        out += ids.size() * 4;
        std::vector<uint32_t>().swap(per_text[i]);
    }
}

// Copies all ids into `out`. A large result is split into contiguous ranges of texts copied on several
// threads: the copy, and the page faults of a fresh result buffer, would otherwise be serial work that
// limits how much a batch gains from its worker threads.
void copy_all_ids(std::vector<std::vector<uint32_t>>& per_text, const std::vector<int64_t>& ends, uint64_t threads,
                  char* out) {
    const size_t n = per_text.size();
    const uint64_t total = uint64_t(little_endian(ends.back()));
    const uint64_t parts = worker_count(threads, n);
    if (total < (uint64_t(1) << 20) || parts < 2) return copy_ids(per_text, 0, n, out);
    std::vector<size_t> cut{0};  // text boundaries with about total / parts ids between them
    for (size_t i = 1; i < n && cut.size() < parts; ++i)
        if (uint64_t(little_endian(ends[i])) * parts >= total * cut.size()) cut.push_back(i);
    cut.push_back(n);
    std::vector<std::thread> helpers;
    helpers.reserve(cut.size());
    for (size_t k = 1; k + 1 < cut.size(); ++k) {
        char* part = out + 4 * little_endian(ends[cut[k]]);
        try {
            helpers.emplace_back(copy_ids, std::ref(per_text), cut[k], cut[k + 1], part);
        } catch (const std::system_error&) {
            copy_ids(per_text, cut[k], cut[k + 1], part);  // a helper that cannot start: copied here
        } catch (const std::bad_alloc&) {
            copy_ids(per_text, cut[k], cut[k + 1], part);
        }
    }
    copy_ids(per_text, cut[0], cut[1], out);
    for (std::thread& t : helpers) t.join();
}

// encode_batch's work: the two bytes objects of the flat result. False with a Python error set.
// The ids go straight from the per-text vectors into the bytes object (filled with the lock released),
// so the largest result is copied once.
bool encode_flat(const Signature& sig, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyRef& ids, PyRef& offsets) {
    BatchArgs a;
    if (!bind_batch(sig, args, nargs, kwnames, a)) return false;
    const Tokenizer& tok = core_of(self);
    std::vector<std::vector<uint32_t>> per_text;
    std::vector<int64_t> ends;
    if (!guarded_without_gil([&] {
            per_text = tok.encode_batch(a.texts.views, a.threads, a.with_special);
            ends = id_offsets(per_text);
        }))
        return false;
    const size_t total = size_t(little_endian(ends.back()));
    ids = PyRef(PyBytes_FromStringAndSize(nullptr, Py_ssize_t(total * 4)));
    if (!ids) return false;
    offsets = PyRef(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(ends.data()), Py_ssize_t(ends.size() * 8)));
    if (!offsets) return false;
    char* out = PyBytes_AS_STRING(ids.get());
    return guarded_without_gil([&] { copy_all_ids(per_text, ends, a.threads, out); });
}

}  // namespace

PyObject* method_encode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyRef ids, offsets;
    if (!encode_flat(ENCODE_BATCH_SIGNATURE, self, args, nargs, kwnames, ids, offsets)) return nullptr;
    return PyTuple_Pack(2, ids.get(), offsets.get());
}

PyObject* method_encode_batch_to_numpy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyRef ids, offsets;
    if (!encode_flat(ENCODE_BATCH_TO_NUMPY_SIGNATURE, self, args, nargs, kwnames, ids, offsets)) return nullptr;
    // The arrays view the bytes objects and keep them alive as their bases.
    PyRef ids_array(frombuffer(ids.get(), "uint32"));
    if (!ids_array) return nullptr;
    PyRef offsets_array(frombuffer(offsets.get(), "int64"));
    if (!offsets_array) return nullptr;
    return PyTuple_Pack(2, ids_array.get(), offsets_array.get());
}

PyObject* method_count_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    BatchArgs a;
    if (!bind_batch(COUNT_BATCH_SIGNATURE, args, nargs, kwnames, a)) return nullptr;
    const Tokenizer& tok = core_of(self);
    std::vector<uint64_t> counts;
    if (!guarded_without_gil([&] { counts = tok.count_batch(a.texts.views, a.threads, a.with_special); }))
        return nullptr;
    return int_list(counts);
}

PyObject* method_truncate_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[3];
    if (!bind_fastcall(TRUNCATE_BATCH_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    BatchTexts texts;
    uint64_t max_tokens = 0;
    uint64_t threads = 0;
    if (!to_batch_texts(bound[0], "texts", texts) || !to_count(bound[1], "max_tokens", max_tokens)) return nullptr;
    if (bound[2] != nullptr && !to_count(bound[2], "threads", threads)) return nullptr;

    const Tokenizer& tok = core_of(self);
    std::vector<Truncation> cuts;
    if (!guarded_without_gil([&] { cuts = tok.truncate_batch(texts.views, max_tokens, threads); })) return nullptr;

    PyRef result(PyList_New(Py_ssize_t(cuts.size())));
    if (!result) return nullptr;
    for (size_t i = 0; i < cuts.size(); ++i) {
        // Always a new object, even when nothing was cut: bytes for a bytes-like item.
        const char* start = texts.views[i].data();
        const Py_ssize_t len = Py_ssize_t(cuts[i].byte_len);
        PyRef kept(texts.from_buffer[i] ? PyBytes_FromStringAndSize(start, len)
                                        : PyUnicode_DecodeUTF8(start, len, "strict"));
        if (!kept) return nullptr;
        PyRef total(PyLong_FromUnsignedLongLong(cuts[i].total_tokens));
        if (!total) return nullptr;
        PyObject* pair = PyTuple_Pack(2, kept.get(), total.get());
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(result.get(), Py_ssize_t(i), pair);
    }
    return result.release();
}

}  // namespace lexaro::py
