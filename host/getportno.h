// Service-port lookup in the system's services file (servicesFile(), host/hostpath.h).
#ifndef TQ_HOST_GETPORTNO_H
#define TQ_HOST_GETPORTNO_H

#ifdef __cplusplus
extern "C" {
#endif

// Negative: the service has no entry, or its entry is not of the TCP
// protocol. Otherwise the port number (0 allowed).
int GetPortNo(const char *serviceName);

#ifdef __cplusplus
}
#endif

#endif
