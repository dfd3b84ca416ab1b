#pragma once
// Waiting, with a deadline, for a condition another thread makes true.

#include <chrono>
#include <thread>

namespace testing_support {

// Polls condition until it holds or five seconds have passed; whether it holds.
template <class Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace testing_support
