#include "handlers/handlers.h"

// Placeholder until the handler is built.
void processVertexMsg(char *, int) {}
