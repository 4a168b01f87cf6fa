// Trace sink for tests (all inline; this unit keeps the header compiled on its own).
#include "tests/fakes/recording_trace_output.h"
