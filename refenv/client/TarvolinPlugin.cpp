// The demo client's plug-in: loaded and unloaded at run time.
#include <cstdio>

extern "C" __attribute__((visibility("default"))) int TarvolinPluginAnswer() {
    std::fputs("TarvolinPlugin: betöltve\n", stderr);
    return 42;
}
