#pragma once
// Work split over the two halves of a range, the second half on a helper thread.
#include "platform/Platform.h"

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>

namespace platform {

// Runs work(first, last) over [0, n): from `least` items on, in two halves at once, the second
// on a helper thread; below, or where no thread can be started, all here. The halves must
// touch different data. Each half stops at its first exception; the first half's wins, so the
// exception is the one the first failing item would give in order.
template <class Work> void InTwoHalves(std::size_t n, std::size_t least, const Work& work) {
    if (n < least || n < 2) {
        work(std::size_t{0}, n);
        return;
    }
    const std::size_t half = n / 2;
    std::exception_ptr second;
    std::thread helper;
    try {
        helper = std::thread([&] {
            QuietThread();
            try {
                work(half, n);
            } catch (...) {
                second = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        work(std::size_t{0}, n);
        return;
    }
    std::exception_ptr first;
    try {
        work(std::size_t{0}, half);
    } catch (...) {
        first = std::current_exception();
    }
    helper.join();
    if (first)
        std::rethrow_exception(first);
    if (second)
        std::rethrow_exception(second);
}

} // namespace platform
