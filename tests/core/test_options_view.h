#pragma once

#include "core/configuration.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vantrel::test {

// Stands in for the dialog: remembers what reading the options and the handlers asked of it.
struct CRecordingView : IOptionsView {
    void PostMinimise() override { ++m_nMinimiseRequests; }
    void ResizeRunningSlots(unsigned maxProcesses) override { m_slotSizes.push_back(maxProcesses); }
    void HideAffinityCheckBox() override { m_bAffinityHidden = true; }
    void EnableServerControls(const ServerControlStates& states) override {
        m_enabled.clear();
        for (std::size_t k = 0; k < states.size(); ++k)
            if (states[k])
                m_enabled.push_back(static_cast<EServerControl>(k));
        ++m_nServerUpdates;
    }

    int m_nMinimiseRequests = 0;
    std::vector<unsigned> m_slotSizes;
    bool m_bAffinityHidden = false;
    std::vector<EServerControl> m_enabled; // as last given
    int m_nServerUpdates = 0;
};

// Runs all sixteen steps over an option text, as if it were the command line.
inline void ReadText(COptions& options, CRecordingView& view, const std::string& text, unsigned processors = 6) {
    CConfigurationReader(text, options, view, processors).ReadSteps(1, CConfigurationReader::kStepCount);
}

} // namespace vantrel::test
