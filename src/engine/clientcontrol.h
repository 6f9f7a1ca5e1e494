#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/enginecontext.h"
#include "platform/process.h"

// Operations on the processing clients of this program directory, addressed by instance number
// through their console title ("ORVA %u") and their working directory. A transmit client's title
// ("ORVA %u - Transmit") never matches, nor does a client of another program directory.
namespace vantrel {

std::string FormatClientTitle(std::uint32_t n);

// Every live processing client of instance n (possibly several, possibly none).
std::vector<platform::ProcessHandle> OpenInstanceClient(const CEngineContext& ctx, std::uint32_t n);

// The processing clients of many instances, found in one pass over /proc: entry i holds those of
// numbers[i] (none for instance 0). Costs one search, however many instances are asked for.
std::vector<std::vector<platform::ProcessHandle>> OpenInstancesClients(const CEngineContext& ctx,
                                                                       const std::vector<std::uint32_t>& numbers);

// The processing clients of every slot, found in one pass over /proc: entry k holds slot k's
// (none for a free slot). Costs one search, however many slots there are.
std::vector<std::vector<platform::ProcessHandle>> OpenSlotClients(const CEngineContext& ctx);

// Terminates every processing client of instance n, one after another with the kill pause
// between them, then frees every slot holding n. False (and the slots untouched) when none ran.
// Gives up on clients still found after the kill wait (a process stuck in the kernel), saying so.
bool KillInstanceClients(CEngineContext& ctx, std::uint32_t n);

// KillInstanceClients for many instances at once, each look through /proc one pass for all of
// them, so the cost does not grow with the number of instances. Returns how many had clients.
std::size_t KillInstancesClients(CEngineContext& ctx, const std::vector<std::uint32_t>& numbers);

// Says on stderr that a killed client of instance n did not end.
void ReportUnkillable(std::uint32_t n, long pid);

// Gives the processing clients of instance n a priority class (IDLE/NORMAL/HIGH_PRIORITY_CLASS).
// True when the system refused the change for some client (no right to raise a priority).
bool SetClientPriority(const CEngineContext& ctx, std::uint32_t n, std::uint32_t priorityClass);

// Shows, minimises or hides the windows of every slot's client with the given show command.
void ShowInstanceClients(const CEngineContext& ctx, std::uint16_t showCommand);

} // namespace vantrel
