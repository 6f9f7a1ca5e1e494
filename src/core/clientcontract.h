#pragma once

// What the program passes to the ORVA client and the files it relies on the client to write.
namespace vantrel::contract {

// Files in an instance directory, written by the client.
inline constexpr const char* kWorkUnitFile = "work_unit.orv";
inline constexpr const char* kResultFile = "result.orv";
inline constexpr const char* kPartialFile = "wtemp.orv";
inline constexpr const char* kLockFile = "lock.orv";
inline constexpr const char* kStateFile = "state.orv";
inline constexpr const char* kUserInfoFile = "user_info.orv";
inline constexpr const char* kVersionFile = "version.orv";
inline constexpr const char* kResultHeaderFile = "result_header.orv";
inline constexpr const char* kPidFile = "pid.orv";
inline constexpr const char* kOutFile = "outfile.orv";

// Files in an instance directory, written by this program.
inline constexpr const char* kStopAfterSendFile = "stop_after_send.txt";
inline constexpr const char* kOldClientFile = "ORVAOldClient.exe";
inline constexpr const char* kLoopDetectorFile = "VantrelTransmitLoopDetector.txt";
inline constexpr const char* kLogMarkerFile = "ORVALogUpdated.txt";
inline constexpr const char* kLogHoldFile = "ORVALogHeld.txt";
inline constexpr const char* kLogPendingFile = "ORVALogPending.txt";

// Command-line switches. Each run gets its switch as one argv word; the server switches of a
// transmit run follow as separate words.
inline constexpr const char* kStopAfterProcess = "-stop_after_process";
inline constexpr const char* kStopAfterXfer = "-stop_after_xfer";
inline constexpr const char* kProxySwitch = "-proxy";
inline constexpr const char* kSocksServerSwitch = "-socks_server";
inline constexpr const char* kSocksUserSwitch = "-socks_user";
inline constexpr const char* kSocksPasswdSwitch = "-socks_passwd";

// The client's console title formats: "ORVA %u" and "%s - Transmit" around it.
inline constexpr const char* kProcessingTitleFormat = "ORVA %u";
inline constexpr const char* kTransmitTitleFormat = "%s - Transmit";

} // namespace vantrel::contract
