#pragma once

// The start-up gate of the starter's self-update: asked once, before anything
// is shown, whether this process may run at all.
class TTarvolinStarterSelfUpdater {
public:
    TTarvolinStarterSelfUpdater() = default;
    // True: run the starter. The hand-over processes of an update answer
    // False once their step is done.
    bool CanRunApplication();
};
