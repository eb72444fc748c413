#include "util/local_time.hpp"

namespace halvard {

std::tm localTimeAt(std::time_t at) {
    std::tm local{};
    localtime_s(&local, &at);
    return local;
}

}  // namespace halvard
