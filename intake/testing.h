// What tests and the fuzz targets may do to the intake library beyond its
// API; the daemon never includes this header.
#ifndef TQ_INTAKE_TESTING_H
#define TQ_INTAKE_TESTING_H

#include "intake/state.h"

// The intake state (intake/state.h) back to its start: no stream position,
// no skip pending, no stream path, no frame kept.
inline void resetIntakeState() { intakeState() = IntakeState{}; }

#endif
