// fork() while other threads take and park pre-token caches: the child must find the pool's lock free
// and its caches usable. The threads here churn the pool without pause, so that at nearly every fork
// one of them is inside the pool's critical section.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "check.h"
#include "core/pcache.h"
#include "core/tokenizer.h"

using namespace lexaro;

namespace {

// The child's exit status, or -1 when it did not end within the deadline (it is then killed).
int wait_for(pid_t pid, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

TEST(fork_under_cache_churn) {
    const Tokenizer tok = std::move(*Tokenizer::create("cl100k_base"));
    const Tokenizer unused = std::move(*Tokenizer::create("cl100k_base"));  // no cache anywhere yet
    const std::vector<uint32_t> want = tok.encode("the child encodes with a cache of its own");
    std::atomic<bool> stop{false};
    std::vector<std::thread> churn;
    for (int t = 0; t < 3; ++t)
        churn.emplace_back([&, t] {
            // More tokenizer ids than a thread holds caches for: every lease goes through the pool.
            for (uint64_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                {
                    CacheLease lease;
                    acquire_cache(lease, 1000 + t * 8 + i % 3, 8);
                }
                if (i % 16 == 0) park_thread_caches();
            }
        });
    int hangs = 0, wrong = 0;
    const char* forks_env = std::getenv("LEXARO_FORKS");  // fewer for a quick look, more for a long run
    const int forks = forks_env != nullptr ? std::atoi(forks_env) : 300;
    for (int k = 0; k < forks; ++k) {
        const pid_t pid = fork();
        if (pid == 0) _exit(unused.encode("the child encodes with a cache of its own") == want ? 0 : 1);
        const int status = wait_for(pid, std::chrono::seconds(5));
        hangs += status == -1;
        wrong += status > 0;
    }
    stop = true;
    for (std::thread& t : churn) t.join();
    CHECK_EQ(hangs, 0);
    CHECK_EQ(wrong, 0);
}

TEST_MAIN()
