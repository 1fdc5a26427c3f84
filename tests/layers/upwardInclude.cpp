// Built only by the layering test: the card-connection layer reaching up to
// the diagnostic run must not compile.
#include "pcscWrapper/token.h"
#include "diagnostics/diagnostics.h"
