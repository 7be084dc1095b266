#include "handlers/handlers.h"

// Placeholder until the handler is built.
void processCommonPropertiesMsg(char *, int) {}
