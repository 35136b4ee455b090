#include "Client/TarvolinStarter/Packages/TarvolinStarterSelfUpdater.h"

bool TTarvolinStarterSelfUpdater::CanRunApplication() {
    // This version carries out no update hand-over: every start is a normal one.
    return true;
}
