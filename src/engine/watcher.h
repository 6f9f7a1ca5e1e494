#pragma once

#include <cstdint>

#include "engine/enginecontext.h"

namespace vantrel {

// The work-unit directory watcher: one thread at a time waits for files being written in the
// watched instance's directory and posts WM_APP_4 to the dialog at its start and at every change.
class CWatcher {
public:
    explicit CWatcher(CEngineContext& ctx);
    ~CWatcher(); // stops for good and joins
    CWatcher(const CWatcher&) = delete;
    CWatcher& operator=(const CWatcher&) = delete;

    // Ends the running watcher, if any, and starts a new WatcherThread. Two never run at once.
    void StartWatcher();
    // Ends the watcher running at this moment; a watcher started later is not affected.
    void PulseStop();
    // Ends every watcher for good, including one a later StartWatcher would start (exit).
    void StopForGood();
    bool IsRunning() const;

    // Copies the watched instance's files for an outside monitor into the program directory:
    // at a (re)start the six of CopySpyFiles, at every change the two of CopyChangedFiles.
    void CopySpyFiles(std::uint32_t n) const;
    void CopyChangedFiles(std::uint32_t n) const;
};

} // namespace vantrel
