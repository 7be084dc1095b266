// The message stream reader: one framed message per call.
#ifndef TQ_INTAKE_READER_H
#define TQ_INTAKE_READER_H

#include "adapter/server_endpoint.h"

#include <cstdint>

// Server callback: reads one frame from tqMessageStream, acknowledges it
// through the endpoint (server data), dispatches an API payload and frees it.
// Ends the daemon through streamFailureExit when the stream fails.
void dyn_recvMsg(int32_t unused, ServerEndpoint *endpoint);

#endif
