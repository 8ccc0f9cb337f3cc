// Batch methods: the texts (str or bytes-like) are taken while the interpreter lock is held, the core spreads
// them over its worker threads with the lock released, and the results become Python objects once it is back.
#include "python/convert.h"
#include "python/fault.h"
#include "python/methods.h"

#include "core/flat_ids.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

struct BatchArgs {
    BatchTexts texts;
    uint64_t threads = 0;
    bool with_special = false;
};

// texts, threads=0, with_special=False: converted in that order.
bool to_batch_args(PyObject* const* args, BatchArgs& out) {
    if (!to_batch_texts(args[0], "texts", out.texts)) return false;
    if (args[1] != nullptr && !to_count(args[1], "threads", out.threads)) return false;
    return args[2] == nullptr || to_flag(args[2], "with_special", out.with_special);
}

// encode_batch's work: the two bytes objects of the flat result. False with a Python error set. The ids go
// straight from the per-text vectors into the bytes object (filled with the lock released), so the largest
// result is copied once.
bool encode_flat(const Tokenizer& tok, PyObject* const* args, PyRef& ids, PyRef& offsets) {
    BatchArgs a;
    if (!to_batch_args(args, a)) return false;
    std::vector<std::vector<uint32_t>> per_text;
    std::vector<int64_t> ends;
    without_gil([&] {
        per_text = tok.encode_batch(a.texts.batch.views, a.threads, a.with_special);
        ends = id_offsets(per_text);
    });
    const size_t total = size_t(little_endian(ends.back()));
    ids = PyRef(PyBytes_FromStringAndSize(nullptr, Py_ssize_t(total * 4)));
    if (!ids) return false;
    offsets = PyRef(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(ends.data()), Py_ssize_t(ends.size() * 8)));
    if (!offsets) return false;
    char* out = PyBytes_AS_STRING(ids.get());
    without_gil([&] { copy_all_ids(per_text, ends, a.threads, out); });
    return true;
}

PyObject* encode_batch(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    PyRef ids, offsets;
    if (!encode_flat(tok, args, ids, offsets)) return nullptr;
    return PyTuple_Pack(2, ids.get(), offsets.get());
}

PyObject* encode_batch_to_numpy(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    PyRef ids, offsets;
    if (!encode_flat(tok, args, ids, offsets)) return nullptr;
    // The arrays view the bytes objects and keep them alive as their bases.
    PyRef ids_array(frombuffer(ids.get(), "uint32"));
    if (!ids_array) return nullptr;
    PyRef offsets_array(frombuffer(offsets.get(), "int64"));
    if (!offsets_array) return nullptr;
    return PyTuple_Pack(2, ids_array.get(), offsets_array.get());
}

PyObject* count_batch(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    BatchArgs a;
    if (!to_batch_args(args, a)) return nullptr;
    std::vector<uint64_t> counts;
    without_gil([&] { counts = tok.count_batch(a.texts.batch.views, a.threads, a.with_special); });
    return int_list(counts);
}

PyObject* truncate_batch(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    BatchTexts texts;
    uint64_t max_tokens = 0;
    uint64_t threads = 0;
    if (!to_batch_texts(args[0], "texts", texts) || !to_count(args[1], "max_tokens", max_tokens)) return nullptr;
    if (args[2] != nullptr && !to_count(args[2], "threads", threads)) return nullptr;
    const TextBatch& batch = texts.batch;
    std::vector<Truncation> cuts;
    without_gil([&] { cuts = tok.truncate_batch(batch.views, max_tokens, threads); });
    return list_of(cuts.size(), [&](size_t i) {
        // Always a new object, even when nothing was cut: bytes for a bytes-like item.
        const std::string_view kept = batch.views[i].substr(0, cuts[i].byte_len);
        return pair_of(batch.from_buffer[i] ? bytes_of(kept) : str_of(kept),
                       PyLong_FromUnsignedLongLong(cuts[i].total_tokens));
    });
}

constexpr Param BATCH[] = {{"texts"}, {"threads", "0"}, {"with_special", "False"}};
constexpr Param TRUNCATE_BATCH_PARAMS[] = {{"texts"}, {"max_tokens"}, {"threads", "0"}};

}  // namespace

const Method ENCODE_BATCH_TO_NUMPY{{"encode_batch_to_numpy", BATCH},
                                   "Encode many texts in parallel into numpy arrays: `(ids, offsets)`, where\n"
                                   "text `i` occupies `ids[offsets[i]:offsets[i + 1]]`.",
                                   encode_batch_to_numpy};
const Method TRUNCATE_BATCH{
    {"truncate_batch", TRUNCATE_BATCH_PARAMS}, "`truncate` over many texts, in parallel.", truncate_batch};
const Method ENCODE_BATCH{{"encode_batch", BATCH},
                          "Encode many texts in parallel. Returns (flat uint32 id buffer, per-text\n"
                          "int64 offsets buffer with `len(texts)+1` entries).",
                          encode_batch};
const Method COUNT_BATCH{{"count_batch", BATCH},
                         "Token counts for many texts, in parallel \u2014 no ids are materialized, so a\n"
                         "counting workload allocates O(threads) instead of O(total tokens).",
                         count_batch};

}  // namespace lexaro::py
