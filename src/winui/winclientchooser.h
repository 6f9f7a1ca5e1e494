#pragma once

#include "winui/win32.h"

#include "core/cachestore.h"

#include <string>

namespace vantrel {

// The start-up choice of the client with the system's Open File dialog, before any window; the
// messages in boxes with the caption "Vantrel".
// When the program directory holds no client at all, an explanation comes first and the dialog
// opens in the user's Downloads folder; the chosen client is copied into the program directory
// when the user keeps the box ticked (the default for an installed copy, whose Start menu entry
// would otherwise ask at every start).
class CWinClientChooser final : public IClientChooser {
public:
    // ownFileName: the program's own file name, which is never copied as a client.
    CWinClientChooser(bool installedCopy, std::string ownFileName)
        : m_bInstalledCopy(installedCopy), m_strOwnFileName(std::move(ownFileName)) {}

    std::string AskForClient(const std::string& programDir) override;
    void ShowMessage(const std::string& text, bool error) override;

private:
    bool m_bInstalledCopy;
    std::string m_strOwnFileName;
    bool m_bExplained = false;
};

// The first start's explanation for a program directory without a client.
std::string FirstRunText(const std::string& programDir);

// The New Client button's choice, starting in the program directory; empty when cancelled.
std::string AskForNewClient(HWND owner, const std::string& programDir);

} // namespace vantrel
