#pragma once
// Makes one file operation of the program fail, as a full disk or a pulled card would.
//
//     testsupport::FaultPlan full(platform::FileOp::Write, 1, ENOSPC); // first write fails
//     ... run the job ...
//     EXPECT_TRUE(full.Fired());
//
// A plan with nth == 0 fails nothing and only counts, which tells how many operations of
// each kind a run makes. One plan at a time; it removes its hook when it goes.
#include "platform/Platform.h"

#include <array>
#include <functional>
#include <string>

namespace testsupport {

class FaultPlan {
public:
    // `inScope`, when given, limits the operations counted and failed to those it accepts.
    using Scope = std::function<bool(platform::FileOp op, const std::string& path)>;
    explicit FaultPlan(platform::FileOp op = platform::FileOp::Write, unsigned nth = 0,
                       int error = 0, Scope inScope = {})
        : op_(op), nth_(nth), error_(error), inScope_(std::move(inScope)) {
        platform::SetFaultHook([this](platform::FileOp op, const std::string& path) {
            if (inScope_ && !inScope_(op, path))
                return 0;
            const unsigned seen = ++counts_[static_cast<std::size_t>(op)];
            if (op != op_ || seen != nth_)
                return 0;
            failedPath_ = path;
            fired_ = true;
            return error_;
        });
    }
    ~FaultPlan() { platform::SetFaultHook({}); }
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;

    // Operations of kind `op` seen so far, the failed one included.
    unsigned Count(platform::FileOp op) const { return counts_[static_cast<std::size_t>(op)]; }
    bool Fired() const { return fired_; }
    // The path the failed operation named (empty for a stream opened for reading).
    const std::string& FailedPath() const { return failedPath_; }

private:
    platform::FileOp op_;
    unsigned nth_;
    int error_;
    Scope inScope_;
    std::array<unsigned, 6> counts_{};
    bool fired_ = false;
    std::string failedPath_;
};

} // namespace testsupport
