// The installation: one fixed order of steps with one running result, tidying its working files
// in every case.
#pragma once
#include "status_codes.h"

// 0, or the code of the first step that failed (which showed its own message); -7 when memory
// ran out. The last step (Display Properties, the document, the uninstall entry) cannot fail the
// installation: what it is refused is shown and the installation stands.
TStatus RunInstallation();

// One operation of the last step, which follows a finished installation and never undoes it: a
// refusal (the uninstall entry's key, the shell), a failed allocation or any other exception is
// shown by the general error display and the run goes on.
void RunFinishingStep(void (*operation)());
