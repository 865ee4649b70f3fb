#pragma once
// What every workflow works with, handed over by the main window's presenter.
#include <string>

#include "app/frontend.h"
#include "app/signatures.h"
#include "app/transfers.h"
#include "settings/session.h"

namespace talvane::app {

// What the user typed into the credentials box, taken when a workflow starts.
struct Credentials {
    std::string user;
    std::string password;
    std::string zipPassword;
};

struct WorkflowContext {
    Frontend& frontend;
    const Session& session;
    Transfers& transfers;
    SignatureCheck& signatures;
    // The unattended run ("sfx"): progress on the splash, the status window shown.
    bool unattended = false;
};

}  // namespace talvane::app
