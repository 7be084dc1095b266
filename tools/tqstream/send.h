// tqstream send: a stream file's frames written to a running daemon's stream
// (its named pipe) one at a time, each after the acknowledgements of the one
// before.
#ifndef TQ_TOOLS_TQSTREAM_SEND_H
#define TQ_TOOLS_TQSTREAM_SEND_H

#include <cstdint>
#include <string>

namespace tqstream {

// Connects to the daemon's acknowledgement port, then for each frame of the
// stream: appends it to target and waits for its acknowledgements (two for an
// API frame, the second once the daemon stored the message; one otherwise),
// printing "frame N acknowledged[: stored]" unless quiet. 0 when every frame
// was acknowledged; 1 when the daemon closed the connection first (the
// frames after it were not written) or a write failed; 2 when the
// connection or the target cannot be opened.
int send(const std::string &stream, const std::string &target, const std::string &address, uint16_t port,
         bool quiet);

}  // namespace tqstream

#endif
