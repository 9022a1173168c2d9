#ifndef TABSYNC_ENGINE_RUNTIME_ERRORS_H_
#define TABSYNC_ENGINE_RUNTIME_ERRORS_H_

#include "base/error.h"

namespace tabsync::engine {

// Errors the update logic raises itself, outside the database engine, with
// the numbers and descriptions of the runtime the procedures were first
// written for. They travel as tabsync::Error like the engine's own.
Error InvalidProcedureCall();  // 5: an argument out of a procedure's range
Error Overflow();              // 6: a number too large for its type
Error TypeMismatch();          // 13: a value of the wrong kind
Error ObjectNotSet();          // 91: a database handle used before it was set
Error InvalidUseOfNull();      // 94: Null where a value is needed

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_RUNTIME_ERRORS_H_
