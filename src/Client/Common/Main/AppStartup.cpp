#include "Client/Common/Main/AppStartup.h"

void TAppStartup::RunApplication() {
    struct FinalizeGuard {
        TAppStartup& self;
        ~FinalizeGuard() noexcept(false) {
            // Finalize runs in every case; an error of its own after a fatal
            // one must not terminate the process while unwinding.
            if (std::uncaught_exceptions() > 0) {
                try {
                    self.Finalize();
                } catch (...) {
                }
            } else {
                self.Finalize();
            }
        }
    } guard{*this};
    try {
        Initialize();
        Run();
    } catch (const std::exception& e) {
        HandleFatalException(e);
    }
}
