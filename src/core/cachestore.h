#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/runningslots.h"

namespace vantrel {

// What an instance directory holds, tested in this order.
enum InstanceState : int {
    IS_WORK_UNIT = 0, // "work_unit.orv" exists
    IS_RESULT = 1,    // "result.orv" exists
    IS_PARTIAL = 2,   // "wtemp.orv" exists
    IS_EMPTY = 3,     // the directory exists
    IS_MISSING = 4
};

// The start-up messages about the client choice (caption "Vantrel").
inline constexpr const char* kNoClientSelectedMessage = "A ORVA Command Line client must be selected; Exiting!";
inline constexpr const char* kOwnProgramChosenMessage =
    "You Selected the Vantrel program - you must select a ORVA Command Line client; reselect!";

// How the client executable is asked for when the program directory does not settle it.
class IClientChooser {
public:
    virtual ~IClientChooser() = default;
    // Asks for a client executable (initial directory given); empty when the user cancels.
    virtual std::string AskForClient(const std::string& programDir) = 0;
    // Shows a message (caption "Vantrel"); error marks the exiting message.
    virtual void ShowMessage(const std::string& text, bool error) = 0;
};

// The work-unit cache on disk: the run of numbered instance directories 1..N beneath the program
// directory. Nothing is held in memory: every answer is a fresh look at the file system, so a
// failed step is simply seen and retried by the next call.
class CCacheStore {
public:
    // Program directory and own file name come from the caller so tests use temp directories.
    // The client is chosen by SelectClientAtStartup, which the caller runs.
    CCacheStore(std::string programDir, std::string ownFileName, const CRunningSlots& slots);

    // Finds the client beside the program, else asks through the chooser. False when the user
    // cancels: the caller shows nothing more and exits with code 1 (the message is already shown).
    bool SelectClientAtStartup(IClientChooser& chooser);

    const std::string& GetProgramDir() const { return m_strProgramDir; }
    std::string GetInstancePath(std::uint32_t n) const;
    InstanceState GetInstanceState(std::uint32_t n) const;
    // What a directory already known to be a real directory holds (never IS_MISSING): the state
    // without the look-up that rules out a link.
    InstanceState ClassifyContents(const std::string& path) const;

    // Names with higher numbers are strays, never instances, so no one name can make the cache's
    // walks long.
    static constexpr std::uint32_t kMaxInstanceNumber = 1'000'000;

    unsigned CountInstances() const;
    unsigned CountStopAfterSend() const;
    // Every numbered directory, also those beyond a gap, in ascending order.
    std::vector<std::uint32_t> ListInstanceNumbers() const;
    // The instance number a directory name stands for, or 0 when it names none.
    static std::uint32_t InstanceNumberOf(const std::string& name);
    // Deletes empty instances and closes the gaps in the run, never renaming or deleting an
    // instance in use (in RunningSlots, its lock held, or some process working in it). Anything
    // else under a number in the run (a file, a link, a directory we cannot look into) is renamed
    // aside to "N.stray", never deleted. Its cost follows the entries present, not their numbers.
    // Returns what each instance directory it kept held when it looked, under the number it left
    // it at; the directories it made are not among them.
    std::map<std::uint32_t, InstanceState> CompactInstances();

    // Holds the store's lock: no count, search or compaction runs meanwhile. A runner chooses its
    // instance and claims its slot under it, so compaction never sees the choice unclaimed.
    std::unique_lock<std::recursive_mutex> LockInstances() const { return std::unique_lock(m_cs); }

    void CreateInstance(std::uint32_t n) const;
    void DeleteInstance(std::uint32_t n) const;
    static void DeleteTree(const std::string& path);

    bool HasStopAfterSend(std::uint32_t n) const;
    void SetStopAfterSend(std::uint32_t n, bool on) const;
    // Creates (empty) or deletes one of the program's own files in instance n; never through an
    // instance that is a link. False when nothing changed.
    bool SetInstanceFile(std::uint32_t n, const char* name, bool present) const;
    bool IsInstanceLocked(std::uint32_t n) const;
    bool IsInstanceRunning(std::uint32_t n) const;
    std::uint32_t FindNextToProcess() const;

    std::string GetClientPath() const;
    std::string GetClientForInstance(std::uint32_t n) const;
    void SetClientPath(const std::string& path);
    void InstallNewClient(const std::string& newPath);

    bool CopyToProgramDir(std::uint32_t n, const std::string& name) const;
    bool SupplyUserInfo(std::uint32_t n) const;
    std::int32_t ReadResultCount(std::uint32_t n) const;

private:
    mutable std::recursive_mutex m_cs;
    mutable std::mutex m_clientPathLock; // m_strClientPath is read by worker threads
    std::string m_strClientPath;
    const std::string m_strProgramDir;
    const std::string m_strOwnFileName;
    const CRunningSlots& m_slots;
};

// The dialog's counters, derived from the instance states and the slot table.
struct CacheCounters {
    unsigned CurrentCacheSize = 0;
    unsigned DesiredCacheSize = 0;
    unsigned ProcessingCount = 0;
    unsigned WaitingToProcess = 0;
    unsigned ReadyToTransmit = 0;
    unsigned NeedToFill = 0;
};

// What one walk of the run 1..C finds, before the slot table is looked at.
struct CacheTally {
    unsigned Instances = 0;     // C
    unsigned StopAfterSend = 0; // instances holding the marker
    unsigned WorkUnits = 0;
    unsigned ReadyToTransmit = 0; // results and partial transfers no client holds
    unsigned Empty = 0;           // empty instances no client holds

    // Counts instance n, a directory at path, whose marker the caller has looked at; its state is
    // looked at unless the caller has just done so (known).
    void Add(const CCacheStore& store, std::uint32_t n, const std::string& path, bool marked,
             std::optional<InstanceState> known = std::nullopt);
};

// One walk of the run under the store's lock.
CacheTally TallyCache(const CCacheStore& store);
// Only the size of the run and its stop-after-send markers, which give the desired size: no look
// into what each instance holds.
CacheTally TallyCacheSize(const CCacheStore& store);
// Clears the stop-after-send markers up to desired, creating the instances missing there, and
// marks every instance of the run past it, counting the run as it goes, under the store's lock.
// states: what a compaction just before found in the instances it kept; the others are looked
// into. onInstance hears of every instance counted.
CacheTally MarkToDesiredSize(const CCacheStore& store, std::uint64_t desired,
                             const std::map<std::uint32_t, InstanceState>& states,
                             const std::function<void(std::uint32_t)>& onInstance);

// The instance whose user_info.orv counts the most results, the lower number of equals; 0 while
// none counts more than best.
struct NewestUserInfo {
    std::int32_t best = 0;
    std::uint32_t instance = 0;
    void Look(const CCacheStore& store, std::uint32_t n);
};
// The counters a walk's tally gives with the slot table as it is now.
CacheCounters CountersOf(const CacheTally& tally, const CRunningSlots& slots);
CacheCounters CountCacheState(const CCacheStore& store, const CRunningSlots& slots);

} // namespace vantrel
