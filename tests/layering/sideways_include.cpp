// Must not compile: the channel library does not link the run library, so its headers are not
// there for it.
#include "run/steps.h"
