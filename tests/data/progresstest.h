#pragma once

#include "data/progress.h"
#include "datatest.h"
#include "support/openfiles.h"

namespace vantrel::test {

class Progress : public test::StoreTest {
protected:
    std::string StateFile(std::uint32_t n) { return Instance(n) + "/state.orv"; }

    ProgressFigures Update(std::uint32_t n, bool use24 = false) { return m_monitor.UpdateProgress(n, use24, m_now); }

    static int OpenDescriptorsOn(const std::string& path) { return OwnHandlesOn(path); }

    static bool IsEmpty(const ProgressFigures& f) {
        return f.Fraction == 0.0f && f.TotalText.empty() && f.LeftText.empty() && f.CompletionText.empty();
    }

    CProgressMonitor m_monitor{m_store};
    std::time_t m_now = At(2024, 1, 21, 10, 0);
};

} // namespace vantrel::test
