// The computer's UTC clock, with a replaceable source for tests.
#include "system_clock.h"

#include <chrono>
#include <mutex>
#include <utility>

namespace zorvik {
namespace {

std::mutex& source_mutex() {
    static std::mutex m;
    return m;
}

std::function<UtcTime()>& source() {
    static std::function<UtcTime()> f;
    return f;
}

UtcTime real_utc_now() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());  // UTC, leap seconds not counted
    const auto days = floor<std::chrono::days>(now);
    const year_month_day date{days};
    const hh_mm_ss time{now - days};
    return UtcTime{static_cast<int>(date.year()),
                   static_cast<int>(static_cast<unsigned>(date.month())),
                   static_cast<int>(static_cast<unsigned>(date.day())),
                   static_cast<int>(time.hours().count()),
                   static_cast<int>(time.minutes().count()),
                   static_cast<int>(time.seconds().count())};
}

}  // namespace

UtcTime system_utc_now() {
    std::function<UtcTime()> f;
    {
        std::lock_guard lock(source_mutex());
        f = source();
    }
    return f ? f() : real_utc_now();
}

void set_system_clock_for_testing(std::function<UtcTime()> f) {
    std::lock_guard lock(source_mutex());
    source() = std::move(f);
}

}  // namespace zorvik
