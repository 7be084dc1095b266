#include "handlers/handlers.h"

// Placeholder until the handler is built.
void processGraphUpdateMsg(char *, int) {}
void processChangeIconMsg(char *, int) {}
void processChangeLabelMsg(char *, int) {}
