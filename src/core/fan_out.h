// Work on many items spread over scoped worker threads that live for one call.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "core/threads.h"

namespace lexaro {

struct NoState {};

// Runs work(i, workers, state) for every index below n on worker_count(threads, n) scoped workers that claim
// indices from one atomic counter, or on the calling thread when fewer than two are asked for. Each worker
// (or the calling thread) makes one State for the call. `before_workers` runs on the calling thread just
// before workers start (never when the calling thread does the work itself). A fault in a worker is
// rethrown after every worker has ended.
template <class State = NoState, class Work, class BeforeWorkers = void (*)()>
void for_each_text(size_t n, uint64_t threads, Work&& work, BeforeWorkers before_workers = [] {}) {
    if (n == 0) return;
    const uint64_t count = worker_count(threads, n);
    const auto run_here = [&] {
        State state;
        for (size_t i = 0; i < n; ++i) work(i, count, state);
    };
    if (count < 2) return run_here();
    before_workers();
    std::atomic<size_t> next{0};
    std::exception_ptr fault;
    std::mutex fault_mutex;
    std::vector<std::thread> workers;
    workers.reserve(count);
    const auto run = [&] {
        try {
            State state;
            for (size_t i; (i = next.fetch_add(1, std::memory_order_seq_cst)) < n;) work(i, count, state);
        } catch (...) {
            std::lock_guard<std::mutex> lock(fault_mutex);
            if (!fault) fault = std::current_exception();
            next.store(n);  // the others stop at their next claim
        }
    };
    // A thread that cannot start (no memory for its stack, a process limit) leaves its share to the
    // others; with none started the calling thread does the work.
    for (uint64_t w = 0; w < count; ++w) {
        try {
            workers.emplace_back(run);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    if (workers.empty()) return run_here();
    for (std::thread& t : workers) t.join();
    if (fault) std::rethrow_exception(fault);
}

// Runs `side` on a thread of its own while the calling thread runs `main`, when this process may use more
// than one processor; else, or when no thread can start, one after the other on the calling thread. A
// fault in `side` is rethrown after both have ended.
template <class Side, class Main>
void run_side_by_side(Side&& side, Main&& main) {
    if (available_parallelism() < 2) {
        side();
        return main();
    }
    std::exception_ptr fault;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                side();
            } catch (...) {
                fault = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    if (!helper.joinable()) {
        side();
        return main();
    }
    // The helper is joined however `main` ends, so that nothing it works on goes away under it.
    struct JoinOnExit {
        std::thread& t;
        ~JoinOnExit() {
            if (t.joinable()) t.join();
        }
    } join_on_exit{helper};
    main();
    helper.join();
    if (fault) std::rethrow_exception(fault);
}

}  // namespace lexaro
