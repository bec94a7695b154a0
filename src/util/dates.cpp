#include <chrono>
#include <ctime>

#include "annoxml/util.h"
#include "platform/platform.h"

namespace {

std::tm LocalNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return annoxml::platform::LocalTime(now);
}

}  // namespace

std::string GetCurrentYear() { return std::to_string(LocalNow().tm_year + 1900); }

std::string GetCurrentDateFormatted() {
    const std::tm local = LocalNow();
    char buffer[11] = {};
    std::strftime(buffer, sizeof buffer, "%Y/%m/%d", &local);
    return buffer;
}
