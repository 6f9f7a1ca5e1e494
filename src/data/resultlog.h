#pragma once

#include <string>
#include <string_view>

// The CSV result log file: one header line, then one row per finished result, with CR LF between
// lines and no line end after the last. Rows already written are never lost: an upgrade builds
// the new log aside and renames it into place, and an append that fails part-way is undone.
namespace vantrel {

inline constexpr std::string_view kLogFileName = "ORVALog.csv";
inline constexpr std::string_view kBackupPrefix = "Backup of ";
inline constexpr std::string_view kLogLineEnd = "\r\n";

// Appends row to the log at path: an empty or new file gets the header first; a file whose first
// line differs from the header (letter case aside) is upgraded first. The log is held with an
// exclusive lock throughout. False, with the log as it was, when the row could not be added
// (the log is a directory, read-only, locked by another process, or the disk is full).
bool AppendToLog(const std::string& path, std::string_view row);

// Whether the log at path holds row as one of its rows (a row spanning lines inside double quotes
// counts whole). Reads the log through; false when it cannot be read.
bool LogHoldsRow(const std::string& path, std::string_view row);

// Moves the log at path to a free backup name ("Backup of " before the file name) and rewrites it
// under the current header, each old row padded with empty fields up to the header's column
// count (rows with more are copied unchanged). A row that spans lines inside double quotes is
// carried whole. False when it could not be done; the log is then at path as it was.
bool UpgradeLog(const std::string& path);

// The candidate when nothing of that name exists, else the first free "base(n).extension",
// n = 1, 2, ... (the extension being what follows the file name's last "."). Empty when none is
// free.
std::string FreeBackupName(const std::string& candidate);

} // namespace vantrel
