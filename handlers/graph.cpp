#include "handlers/handlers.h"

// Placeholder until the handler is built.
void processGraphMsg(char *, int) {}
void processContentIDMsg(char *, int) {}
void processContinueGraphMsg(char *, int) {}
void processContinueContentIDListMsg(char *, int) {}
