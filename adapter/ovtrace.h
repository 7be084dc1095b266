// The adapter's trace line for a failed map platform call.
#ifndef TQ_ADAPTER_OVTRACE_H
#define TQ_ADAPTER_OVTRACE_H

#include "log/log.h"
#include "ovw/ovw.h"

// "%s(%d): OV error: %s" with the platform's error text, inside a
// TQ_TRACE_SCOPE.
#define TQ_OV_ERROR() AdapterTrace("%s(%d): OV error: %s", tqTraceScope_.name(), __LINE__, OVwErrorMsg(OVwError()))

#endif
