// The message stream reader: one framed message per call.
#ifndef TQ_INTAKE_READER_H
#define TQ_INTAKE_READER_H

#include "adapter/server_endpoint.h"

#include <cstdint>
#include <string>

// Server callback: reads one frame from tqMessageStream, acknowledges it
// through the endpoint (server data), dispatches an API payload and frees it.
// Ends the daemon through streamFailureExit when the stream fails.
void dyn_recvMsg(int32_t unused, ServerEndpoint *endpoint);

// The path of the stream file: before each frame the reader makes sure that
// it still names the file being read and that the file was not cut below
// the position; otherwise it logs "stream replaced at frame N, offset X"
// and ends the run (the next run reads the new stream from frame 1).
void setStreamPath(const std::string &path);

#endif
