#pragma once

#include "winui/win32.h"

#include "core/cachestore.h"

#include <string>

namespace vantrel {

// The start-up choice of the client with the system's Open File dialog, before any window; the
// messages in boxes with the caption "Vantrel".
class CWinClientChooser final : public IClientChooser {
public:
    std::string AskForClient(const std::string& programDir) override;
    void ShowMessage(const std::string& text, bool error) override;
};

// The New Client button's choice, starting in the program directory; empty when cancelled.
std::string AskForNewClient(HWND owner, const std::string& programDir);

} // namespace vantrel
