#include "contents.h"
#include "core/clientcontract.h"
#include "datafiles.h"
#include "platform/process.h"
#include "runs.h"
#include "system.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

namespace orvasim {

using namespace vantrel::contract;

namespace {

// The work unit being processed and how much processor time it needs in all.
struct Job {
    DataFile workUnit;
    unsigned long number = 0;
    double cpuNeeded = kDefaultCpuNeeded;
};

[[noreturn]] void HangForever() {
    Say("hanging (simulated)");
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

[[noreturn]] void Crash() {
    Fail("crashing half-way (simulated)");
    AbortLikeACrash();
}

// Whether a result of this very work unit is already there: an earlier run was stopped after
// writing the result and before deleting the work unit.
bool ResultIsOf(const DataFile& result, const DataFile& workUnit) {
    return result.Get(kNumberKey) == workUnit.Get(kNumberKey) && result.Get("name") == workUnit.Get("name");
}

// The fraction an earlier, interrupted run of the same work unit reached, from its state file.
double ResumedFraction(const Job& job) {
    std::optional<DataFile> state = DataFile::Read(kStateFile);
    if (!state || state->Get(kNumberKey) != job.workUnit.Get(kNumberKey))
        return 0.0;
    return std::clamp(LeadingNumber(state->Get("prog"), 0.0), 0.0, 1.0);
}

bool WriteStartFiles(const Job& job) {
    DataFile version;
    version.Set("version", "3.08");
    version.Set("platform", kPlatformName);
    DataFile pid;
    pid.Set("pid", std::to_string(vantrel::platform::CurrentProcessId()));
    return WriteFileAtomic(kVersionFile, version.Text()) && WriteFileAtomic(kPidFile, pid.Text()) &&
           WriteFileAtomic(kResultHeaderFile, job.workUnit.Text());
}

bool WriteState(const Job& job, double fraction) {
    DataFile state;
    state.Set(kNumberKey, job.workUnit.Get(kNumberKey));
    state.Set("prog", Fixed(fraction, 6));
    state.Set("cpu", Fixed(job.cpuNeeded * fraction, 2));
    state.Append(MakeResultFigures(job.number, fraction));
    std::string note = "progress " + Fixed(fraction, 6) + ", ffts " + state.Get("ncfft") + ", chirp " + state.Get("cr");
    return WriteFileAtomic(kStateFile, state.Text()) && AppendToFile(kOutFile, note + "\n");
}

// The result carries the work unit's header and the figures of the whole search. Written before
// the work unit goes, so a stop in between leaves both files and never neither.
bool WriteResult(const Job& job) {
    DataFile result = job.workUnit;
    result.Append(MakeResultFigures(job.number, 1.0));
    result.Set("prog", Fixed(1.0, 6));
    result.Set("cpu_time", Fixed(job.cpuNeeded, 6));
    return WriteFileAtomic(kResultFile, result.Text()) && RemoveFile(kWorkUnitFile);
}

} // namespace

int RunProcessing(const Knobs& knobs) {
    // A client that cannot even begin (a missing library, a refused input).
    if (DrawFailures(knobs).exitAtOnce)
        return Fail("exits at once (simulated)");
    // Looked at before the lock file is created, so a directory without work stays untouched.
    if (!PathExists(kWorkUnitFile))
        return Fail("no work unit (work_unit.orv) in this directory");
    SleepSeconds(knobs.startSeconds);
    vantrel::platform::File lock = LockFile(kLockFile, false);
    if (!lock.IsValid())
        return Fail("cannot lock lock.orv: another client runs in this directory");
    std::optional<DataFile> workUnit = DataFile::Read(kWorkUnitFile);
    if (!workUnit)
        return Fail("cannot read work_unit.orv");
    Job job{*workUnit, WorkUnitNumber(*workUnit), LeadingNumber(workUnit->Get(kCpuNeededKey), kDefaultCpuNeeded)};

    if (std::optional<DataFile> result = DataFile::Read(kResultFile)) {
        if (!ResultIsOf(*result, job.workUnit))
            return Fail("result.orv of another work unit waits to be sent; not processing over it");
        Say("the result of this work unit is already written; finishing");
        return RemoveFile(kWorkUnitFile) ? 0 : Fail("cannot delete work_unit.orv");
    }

    if (!WriteStartFiles(job))
        return Fail("cannot write the client's files in this directory");
    Failures failures = DrawFailures(knobs);
    if (failures.hang)
        HangForever();

    double startFraction = ResumedFraction(job);
    double secondsLeft = (1.0 - startFraction) * knobs.processSeconds;
    Say("processing work unit " + job.workUnit.Get("name") + " from " + Fixed(startFraction * 100.0, 1) + "%");
    auto begin = std::chrono::steady_clock::now();
    for (;;) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        double fraction =
            secondsLeft <= 0.0 ? 1.0 : std::min(1.0, startFraction + (1.0 - startFraction) * elapsed / secondsLeft);
        if (!WriteState(job, fraction))
            return Fail("cannot write state.orv");
        if (failures.crash && fraction >= 0.5)
            Crash();
        if (fraction >= 1.0)
            break;
        SleepSeconds(std::min(knobs.stateInterval, secondsLeft - elapsed));
    }
    if (!WriteResult(job))
        return Fail("cannot write result.orv or delete work_unit.orv");
    Say("work unit done; result.orv written");
    // A client that hangs at its very end, still holding lock.orv.
    SleepSeconds(knobs.holdAfterResult);
    return 0;
}

} // namespace orvasim
