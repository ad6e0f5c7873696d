// Must not compile: no core library links a backend; only apps/ picks one.
#include "platform/sim/farm.h"
