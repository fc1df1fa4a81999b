#include "transfer/Failure.h"

#include "platform/Platform.h"

#include <system_error>

namespace th {

std::string SystemReason(int error) {
    if (error == 0)
        return "The system gave no reason";
    return std::generic_category().message(error);
}

std::string FailureText(const Failure& failure) {
    if (failure.file.empty())
        return failure.reason;
    const std::string file = platform::DisplayPath(failure.file);
    return failure.reason.empty() ? file : file + ": " + failure.reason;
}

} // namespace th
