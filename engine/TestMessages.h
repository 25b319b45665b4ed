// The fixed texts a test run and its front ends show; users search for them, keep them exact.
#pragma once

namespace tarnwell {

namespace testmessages {
inline constexpr const char* kPleaseWait = "Please wait, processing...";
inline constexpr const char* kTestFailed = "Test failed";
inline constexpr const char* kFinished = "Finished";
inline constexpr const char* kCancelled = "Test cancelled";

inline constexpr const char* kCheckFiles = "Check the files";
inline constexpr const char* kCheckSize = "Check the size of input files (must be more than 5 sec.)";
inline constexpr const char* kLowActivity =
    "Insufficient voice activity in Tx file (possibly empty captures)";
inline constexpr const char* kNoMemory = "Not enough memory for the captures";
inline constexpr const char* kTooLarge = "Input files are too large";
inline constexpr const char* kDelayFailed = "Echo delay estimation failed (possibly no echo in the capture)";
inline constexpr const char* kErlGate = "Echo Return Loss (ERL) is less than 6 dB. Cancellation stopped";
inline constexpr const char* kCannotWrite = "Cannot write the output file";
inline constexpr const char* kCheckSettings =
    "Check the settings: tail 0 to 1024, delay 0 to 8000, NLP diff 0 to 100, NLP shift 0 to 10";
}  // namespace testmessages

}  // namespace tarnwell
