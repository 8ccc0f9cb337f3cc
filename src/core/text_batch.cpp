#include "core/text_batch.h"

namespace lexaro {

void make_text_batch(std::span<const BatchItem> items, TextBatch& out) {
    size_t copied = 0;
    for (const BatchItem& it : items) copied += it.copy ? it.text.size() : 0;
    out.copies.reserve(copied);  // no reallocation below: the views into it stay valid
    out.views.reserve(items.size());
    out.from_buffer.reserve(items.size());
    for (const BatchItem& it : items) {
        if (it.copy) {
            const size_t at = out.copies.size();
            out.copies.append(it.text);
            out.views.emplace_back(out.copies.data() + at, it.text.size());
        } else {
            out.views.push_back(it.text);
        }
        out.from_buffer.push_back(it.from_buffer);
    }
}

}  // namespace lexaro
