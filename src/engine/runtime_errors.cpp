#include "engine/runtime_errors.h"

namespace tabsync::engine {

Error InvalidProcedureCall() { return Error(5, "Invalid procedure call or argument"); }
Error Overflow() { return Error(6, "Overflow"); }
Error TypeMismatch() { return Error(13, "Type mismatch"); }
Error ObjectNotSet() { return Error(91, "Object variable or With block variable not set"); }
Error InvalidUseOfNull() { return Error(94, "Invalid use of Null"); }

}  // namespace tabsync::engine
