#pragma once

#include "core/configuration.h"

#include <string>
#include <vector>

namespace vantrel::test {

// Stands in for the dialog: remembers what reading the options and the handlers asked of it.
struct CRecordingView : IOptionsView {
    void PostMinimise() override { ++m_nMinimiseRequests; }
    void ResizeRunningSlots(unsigned maxProcesses) override { m_slotSizes.push_back(maxProcesses); }
    void HideAffinityCheckBox() override { m_bAffinityHidden = true; }
    void EnableServerControls(const ServerControlStates& states) override {
        m_enabledIds.clear();
        for (const ServerControlState& state : states)
            if (state.enabled)
                m_enabledIds.push_back(state.id);
        ++m_nServerUpdates;
    }

    int m_nMinimiseRequests = 0;
    std::vector<unsigned> m_slotSizes;
    bool m_bAffinityHidden = false;
    std::vector<int> m_enabledIds; // as last given
    int m_nServerUpdates = 0;
};

// Runs all sixteen steps over an option text, as if it were the command line.
inline void ReadText(COptions& options, CRecordingView& view, const std::string& text, unsigned processors = 6) {
    CConfigurationReader(text, options, view, processors).ReadSteps(1, CConfigurationReader::kStepCount);
}

} // namespace vantrel::test
