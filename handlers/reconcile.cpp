#include "handlers/handlers.h"

// Placeholder until the reconciliation is built.
void reconcileGraphContents(GraphRef) {}
void deleteGraphArcs(const char *, const char *) {}
void deleteArcsTouchingGraph(const char *, const char *, const char *, const char *) {}
void removeParentName(const char *, const char *) {}
