#include "winui/win32.h"
#include "winui/vantrelapp.h"

#include "platform/fileops.h"
#include "winui/winclientchooser.h"

#include <iostream>

namespace vantrel {

namespace {

bool StartsMinimised(int showCommand) {
    return showCommand == SW_SHOWMINIMIZED || showCommand == SW_MINIMIZE || showCommand == SW_SHOWMINNOACTIVE;
}

} // namespace

CVantrelApp::CVantrelApp(std::vector<std::string> arguments, int showCommand)
    : m_arguments(std::move(arguments)), m_nShowCommand(showCommand), m_channel(m_scheduler),
      m_stopRequests(m_scheduler) {}

CVantrelApp::~CVantrelApp() {
    m_session.reset();
    m_dialog.reset();
}

int CVantrelApp::Run() {
    ProgramFrontEnd frontEnd(m_scheduler);
    frontEnd.arguments = m_arguments;
    frontEnd.channel = &m_channel;
    frontEnd.stopRequests = &m_stopRequests;
    frontEnd.makeChooser = [](const StartPlace& place) {
        // An installed copy keeps its cache away from its executable.
        const bool installed = ::lstrcmpiA(place.where.directory.c_str(),
                                           platform::DirectoryPart(place.executable).c_str()) != 0;
        return std::make_unique<CWinClientChooser>(installed, place.where.fileName);
    };
    frontEnd.reportStartFailure = [](const std::string& why) {
        std::cerr << "vantrel: " << why << "\n";
        ::MessageBoxA(nullptr, why.c_str(), "Vantrel", MB_OK | MB_ICONERROR);
    };
    frontEnd.presentNotice = [this](const ProblemNotice& notice) { m_tray.ShowBalloon(notice.Title, notice.Text); };
    frontEnd.makeView = [this](CProgramSession& session) -> IDialogView* {
        m_dialog = std::make_unique<CVantrelDlg>(session.Options(), *session.Store(), m_tray, m_channel,
                                                 session.Place().executable);
        if (!m_dialog->Create()) {
            m_dialog.reset();
            return nullptr;
        }
        return m_dialog.get();
    };
    frontEnd.initDialog = [this](CVantrelController& controller) {
        if (m_dialog == nullptr) {
            controller.OnInitDialog(StartsMinimised(m_nShowCommand));
            return;
        }
        m_dialog->AttachController(&controller);
        m_dialog->InitDialog(StartsMinimised(m_nShowCommand));
    };
    m_session = std::make_unique<CProgramSession>(std::move(frontEnd));
    if (std::optional<int> code = m_session->Start())
        return *code;

    MSG message{};
    while (!m_session->HasEnded() && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (m_dialog != nullptr && ::IsDialogMessageA(m_dialog->Window(), &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    m_session->EndFromOutside();
    m_session->Shutdown();
    if (m_dialog != nullptr)
        m_dialog->AttachController(nullptr);
    return 0;
}

} // namespace vantrel
