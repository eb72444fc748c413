#include "util/local_time.hpp"

namespace halvard {

std::tm localTimeAt(std::time_t at) {
    std::tm local{};
    localtime_r(&at, &local);
    return local;
}

}  // namespace halvard
