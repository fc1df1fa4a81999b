#pragma once
// Why a step of a transfer failed, beyond its message: the file concerned and the reason in
// plain words. The engines fill it where the failure happens and hand it to the user interface
// with the message; the window, the command line and the tests each show or check it.
#include <string>

namespace th {

struct Failure {
    std::string file;   // drive-letter form, as the engines name files; empty when none
    std::string reason; // "No space left on device", "Cancelled", ...
    bool empty() const { return file.empty() && reason.empty(); }
};

// Reasons that do not come from the system.
inline constexpr const char* kReasonCancelled = "Cancelled";
inline constexpr const char* kReasonNotReplaced = "Not replaced: the overwrite was declined";
inline constexpr const char* kReasonShortFile = "The file ends before its audio does";
inline constexpr const char* kReasonNotWave = "Not a WAV file";
inline constexpr const char* kReasonNoFormat = "The WAV file has no format (\"fmt \") chunk";
inline constexpr const char* kReasonNoAudio = "The WAV file has no audio (\"data\") chunk";

// The system's words for an error number (errno): "No space left on device".
std::string SystemReason(int error);

// The failure in one line: the file as a person reads paths on this system, a colon and the
// reason ("/home/me/takes/tr01.wav: Permission denied"); the part that is known when only one
// is.
std::string FailureText(const Failure& failure);

} // namespace th
