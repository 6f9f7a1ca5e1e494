// The desktop program: `vantrel --help`, `--version` and `vantrel --post N` answer without a
// window; a start without a display says so; anything else starts Vantrel.
#include "ui/commandline.h"
#include "ui/vantrelapp.h"

int main(int argc, char** argv) {
    if (std::optional<int> exitCode = vantrel::RunCommandLineRequest(argc, argv))
        return *exitCode;
    if (std::optional<int> exitCode = vantrel::CheckDisplay(argc, argv))
        return *exitCode;
    vantrel::CVantrelApp app(argc, argv);
    return app.Run();
}
