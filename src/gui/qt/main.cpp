#include "gui/qt/numicon_app.h"

int main(int argc, char** argv) {
    CNumiconApp app(argc, argv);
    return app.InitInstance();
}
