#include "handlers/handlers.h"

// Placeholder until the handler is built.
void processVertexStatusMsg(char *, int) {}
void processArcStatusMsg(char *, int) {}
void applyVertexStatus(int32_t, const char *, int32_t) {}
void markCommonState(const char *, const char *) {}
