#pragma once

#include "platform/detail_win32.h"

#include <optional>
#include <string>
#include <vector>

// Helpers shared by the Win32 process files; not part of the platform contract.
namespace vantrel::platform::detail {

// Each client runs in a job object named from its working directory (the program directory and
// the instance number) and its title, so a later copy of the program finds the clients a crashed
// one left behind and ends their whole process tree. A client whose job is still there (its
// tree lives on, or a handle to it is still open) gets the next generation of the name, so two
// clients never share a job; the search looks at every generation.
inline constexpr int kJobGenerations = 8;

// The name of one generation of a client's job.
std::string ClientJobName(const std::string& title, const std::string& workingDirectory, int generation);

// The process ids in a job, empty when it cannot be read.
std::vector<DWORD> ProcessesInJob(HANDLE job);

// The command line that the C runtime splits back into exactly these arguments.
std::string CommandLine(const std::vector<std::string>& argv);

// A live process opened with the rights the platform needs (wait, end, priority, affinity),
// or an empty handle when it is gone or may not be opened.
UniqueHandle OpenLiveProcess(DWORD pid);

// The full path of the process's executable; none when it cannot be asked.
std::optional<std::string> ProcessImagePath(HANDLE process);

// Whether a process found in a client's job counts as one of the client's own: not the system's
// console host (conhost.exe), which a client's new console may bring into its job, and not a process
// whose program is not known yet. A console host the client is only now starting is such a one:
// taken for a client, it would be ended or waited on in its place.
bool IsClientProcess(HANDLE process);

// The handle in the current process for a job handle found or made here; null when it cannot
// be duplicated.
HANDLE DuplicateJob(HANDLE job);

} // namespace vantrel::platform::detail
