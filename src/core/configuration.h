#pragma once

#include "core/options.h"
#include "core/optiontext.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reading the option keywords at start-up, the server controls' rules and the client's server
// switches. The dialog binds to IOptionsView and only mirrors what these functions decide.
namespace vantrel {

// The server group's controls by what each is for; the dialog that draws them maps each to its own
// control. The labels are greyed with their edits.
enum EServerControl : int {
    SRV_HOST_LABEL,
    SRV_HOST,
    SRV_PORT_LABEL,
    SRV_PORT,
    SRV_USE_COLON,
    SRV_USER_LABEL,
    SRV_USER,
    SRV_PASSWORD_LABEL,
    SRV_PASSWORD,
};
inline constexpr std::size_t kServerControlCount = SRV_PASSWORD + 1;

// Whether each server control is enabled, indexed by EServerControl.
using ServerControlStates = std::array<bool, kServerControlCount>;

// Whether one server control is enabled: none without a server; host, port, their labels and
// "Use Colon" for a proxy; all nine for a socks server. "Use Colon" stays greyed while the port
// is not 0, since a port forces it on; so a radio click never frees it to drop the port.
bool IsServerControlEnabled(EServerMode mode, unsigned serverPort, EServerControl control);

ServerControlStates GetServerControlStates(EServerMode mode, unsigned serverPort);

// What reading the options and the server handlers do to the dialog. Check boxes, radios and
// fields are mirrored from COptions by the dialog itself when it shows them.
class IOptionsView {
public:
    virtual ~IOptionsView() = default;
    // "-MIN": post a minimise command to the dialog (it runs after initialisation).
    virtual void PostMinimise() = 0;
    // After "-CPU": size RunningSlots to maxProcesses, every slot free.
    virtual void ResizeRunningSlots(unsigned maxProcesses) = 0;
    // Fewer than 2 processors: hide "Set Processor Affinity" (SetAffinity is already off).
    virtual void HideAffinityCheckBox() = 0;
    // The server controls' enabled states changed, and UseColon's check may have changed with them.
    virtual void EnableServerControls(const ServerControlStates& states) = 0;
};

// The handler of the radios "No Proxy/Socks", "Proxy Server" and "Socks Server".
void SelectServerMode(COptions& options, EServerMode mode, IOptionsView& view);

// Keeps UseColon consistent with ServerPort (the caller has read the fields): a port turns it on
// and greys it; port 0 turns it off and makes it changeable, even when the user had checked it.
void UpdateUseColon(COptions& options, IOptionsView& view);

// A proxy or socks value, "host", "host:" or "host:port", into ServerHost, ServerPort and
// UseColon. A port that is empty, not a number or outside 32 bits is 0. A value without a colon
// names no port either (port 0), so with both "-proxy" and "-socks_server" the socks value
// decides host and port alike.
void ReadServerValue(COptions& options, std::string_view value);

// Sets ClientOptions, the server switches appended to a transmit command line (each beginning
// with a space), and ClientOptionArgs, the same switches as separate argv words, so no shell
// ever splits a host, user name or password. ServerHost is trimmed and stored back (the caller
// has read the fields); both stay empty without a server or with an empty host.
void BuildClientOptions(COptions& options);

// The sixteen keyword steps over the collected option text, each callable on its own because the
// dialog's initialisation does other work between them. Each step looks its keyword up anywhere
// in the upper-cased text, values included, so a keyword inside a longer word counts too; the
// first occurrence of a keyword gives its value, so the command line wins over the file.
class CConfigurationReader {
public:
    static constexpr int kStepCount = 16;

    // collectedText: the command line and the file's lines as CollectOptionText joins them.
    // options and view must outlive the reader.
    CConfigurationReader(std::string_view collectedText, COptions& options, IOptionsView& view,
                         unsigned processorCount = ProcessorCount());

    // Normalised, case as written; a double-quoted value stands there as "N" (ExtractQuotedValues).
    const std::string& GetText() const { return m_strText; }
    const std::string& GetSearchText() const { return m_strSearchText; } // the same, upper-cased
    bool HasKeyword(std::string_view keyword) const;

    // Steps 1 to 10 return whether their keyword was found.
    bool ReadDisplayTransmit(); // 1 "-DISPLAYTRANSMIT"
    bool ReadAutoTransmit();    // 2 "-AUTO"
    bool ReadMinimise();        // 3 "-MIN": the view posts a minimise
    bool Read24HourClock();     // 4 "-24HR"
    bool ReadNoHide();          // 5 "-NOHIDE": HideProcessing off, ClientShowMode 6
    bool ReadMaxProcesses();    // 6 "-CPU": MaxProcesses, then the view sizes RunningSlots
    bool ReadAffinity();        // 7 "-AFFINITY", honoured with 2 or more processors only
    bool ReadMonitorProgress(); // 8 "-VERBOSE"
    bool ReadUseSpy();          // 9 "-SPY" or "-ORVASPY"
    bool ReadCreateLog();       // 10 "-ORVALOG"
    void ReadNoServer();        // 11 ServerMode None, server controls greyed
    bool ReadProxy();           // 12 "-PROXY": ServerMode Proxy and its value
    bool ReadSocks();           // 13-15 "-SOCKS_SERVER", then "-SOCKS_USER" and "-SOCKS_PASSWD"
    void ReadClientPriority();  // 16 "-RUNNORMAL" before "-RUNHIGH", else Low

    // "-NOTIFY", with the hours after it when it has them (1 to 8760): problems are notified.
    bool ReadNotify();

    // Runs steps first to last (1 to kStepCount) in order; steps 14 and 15 run inside step 13.
    void ReadSteps(int first, int last);

private:
    bool SetIfPresent(std::string_view keyword, std::atomic<bool>& option);
    // A server value (steps 12 and 13): taken from the upper-cased text, so the host is stored in
    // upper case, a quoted one too.
    std::string ServerValue(std::string_view keyword) const;

    QuotedOptionText m_quoted; // first: the texts below are made from it
    std::string m_strText;
    std::string m_strSearchText;
    COptions& m_options;
    IOptionsView& m_view;
    unsigned m_nProcessorCount;
};

// Collects the option text from the arguments after the program name and the configuration file
// at configPath, and runs all sixteen steps and ReadNotify. Never fails: a missing or unreadable file leaves the
// command line alone.
void ReadConfiguration(COptions& options, IOptionsView& view, const std::vector<std::string>& arguments,
                       const std::string& configPath, unsigned processorCount = ProcessorCount());

} // namespace vantrel
