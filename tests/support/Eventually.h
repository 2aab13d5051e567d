// Waiting for something another thread does, without a fixed sleep.
#pragma once

#include <chrono>
#include <thread>

// Polls `condition` until it holds (true) or `ms` milliseconds have passed (false).
template <typename Condition>
bool Eventually(Condition condition, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
