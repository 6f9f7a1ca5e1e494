// The program `vantrel --headless` becomes: the engine without a window, linked without the
// toolkit's graphical libraries.
#include "host/headlessapp.h"

int main(int argc, char** argv) {
    vantrel::CHeadlessApp app(argc, argv);
    return app.Run();
}
