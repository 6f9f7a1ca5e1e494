#include "contents.h"
#include "core/clientcontract.h"
#include "datafiles.h"
#include "runs.h"

#include <ctime>
#include <optional>

namespace orvasim {

using namespace vantrel::contract;

namespace {

std::string AddTo(const std::string& value, double amount, int decimals) {
    return Fixed(LeadingNumber(value, 0.0) + amount, decimals);
}

// Sends the result, then deletes it and counts it in the user's account. A stop between the
// upload and the deletion leaves the result to be sent again, which the server acknowledges.
int SendResult(const Knobs& knobs, const Server& server, DataFile& userInfo) {
    std::optional<std::string> text = ReadWholeFile(kResultFile);
    if (!text)
        return Fail("cannot read result.orv");
    DataFile result = DataFile::Parse(*text);
    Say("sending the result of work unit " + result.Get("name"));
    SleepSeconds(knobs.transferSeconds);
    std::string error;
    if (!server.ReceiveResult(*text, result.Get(kNumberKey), error))
        return Fail("the server did not take the result: " + error);
    if (!RemoveFile(kResultFile))
        return Fail("the result was sent but result.orv cannot be deleted");
    userInfo.Set("nresults", AddTo(userInfo.Get("nresults"), 1, 0));
    userInfo.Set("total_cpu", AddTo(userInfo.Get("total_cpu"), LeadingNumber(result.Get("cpu_time"), 0.0), 6));
    userInfo.Set("last_result_time", JulianTime(std::time(nullptr)));
    if (!WriteFileAtomic(kUserInfoFile, userInfo.Text()))
        return Fail("the result was sent but user_info.orv cannot be updated");
    return 0;
}

// Downloads the next work unit through "wtemp.orv"; a broken-off download leaves that file and
// no work unit. The number is taken from the server only once the download has come through, so
// no number is lost with a partial download.
int FetchWorkUnit(const Knobs& knobs, const Server& server, const Failures& failures, DataFile& userInfo) {
    // The previous work unit's progress belongs to the result that has gone.
    RemoveFile(kStateFile);
    RemoveFile(kOutFile);
    if (server.HasNoWork())
        return Fail("the server has no work to hand out (simulated)");
    DataFile partial;
    partial.Set("download_started", JulianTime(std::time(nullptr)));
    partial.Set("bytes_received", "0");
    if (!WriteFileAtomic(kPartialFile, partial.Text()))
        return Fail("cannot write wtemp.orv");
    SleepSeconds(knobs.transferSeconds / 2);
    partial.Set("bytes_received", "180224");
    if (!WriteFileAtomic(kPartialFile, partial.Text()))
        return Fail("cannot write wtemp.orv");
    if (failures.partialDownload)
        return Fail("the download broke off (simulated); wtemp.orv stays");
    SleepSeconds(knobs.transferSeconds / 2);

    std::string error;
    std::optional<unsigned long> number = server.AllocateWorkUnitNumber(error);
    if (!number)
        return Fail("the server handed out no work unit: " + error);
    DataFile workUnit = MakeWorkUnit(*number);
    if (!WriteFileAtomic(kWorkUnitFile, workUnit.Text()))
        return Fail("cannot write work_unit.orv");
    RemoveFile(kPartialFile);
    userInfo.Set("nwus", AddTo(userInfo.Get("nwus"), 1, 0));
    userInfo.Set("last_wu_time", JulianTime(std::time(nullptr)));
    if (!WriteFileAtomic(kUserInfoFile, userInfo.Text()))
        return Fail("user_info.orv cannot be updated");
    Say("received work unit " + workUnit.Get("name"));
    return 0;
}

} // namespace

int RunTransmit(const Knobs& knobs, const Server& server) {
    SleepSeconds(knobs.startSeconds);
    vantrel::platform::File lock = LockFile(kLockFile, false);
    if (!lock.IsValid())
        return Fail("cannot lock lock.orv: another client runs in this directory");
    std::optional<DataFile> userInfo = DataFile::Read(kUserInfoFile);
    if (!userInfo) {
        userInfo = MakeUserInfo(std::time(nullptr));
        if (!WriteFileAtomic(kUserInfoFile, userInfo->Text()))
            return Fail("cannot create user_info.orv");
    }

    bool stopAfterSend = PathExists(kStopAfterSendFile);
    bool hasResult = PathExists(kResultFile);
    bool needsWorkUnit = !stopAfterSend && !PathExists(kWorkUnitFile);
    Failures failures = DrawFailures(knobs);
    if ((hasResult || needsWorkUnit) && (failures.failTransfer || server.IsUnreachable())) {
        SleepSeconds(knobs.transferSeconds);
        return Fail("cannot connect to the project server (simulated)");
    }
    if (hasResult)
        if (int code = SendResult(knobs, server, *userInfo); code != 0)
            return code;
    if (stopAfterSend) {
        // A download begun before the marker came will not be finished.
        RemoveFile(kPartialFile);
        Say("stop_after_send.txt present: not fetching another work unit");
        return 0;
    }
    return needsWorkUnit ? FetchWorkUnit(knobs, server, failures, *userInfo) : 0;
}

} // namespace orvasim
