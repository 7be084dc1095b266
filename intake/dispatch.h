// The API dispatcher: picks the handler by sub-type.
#ifndef TQ_INTAKE_DISPATCH_H
#define TQ_INTAKE_DISPATCH_H

// data: the API data (the sub-type byte first); length: its byte count.
// 0 when a handler ran; -1 for an unknown sub-type (the message is refused).
int dispatchApiMsg(char *data, int length);

#endif
