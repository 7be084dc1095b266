// Lookup tables of the naming functions (adapter/naming.cpp) that are built
// on first use: the protocol index and the icon table.
#ifndef TQ_ADAPTER_NAMING_H
#define TQ_ADAPTER_NAMING_H

// Forgets both tables, so the next unprotocol() or icon() call builds them
// again (icon() then reads oid_to_sym anew). Tests only; the daemon builds
// each table once per process.
void resetNamingTables();

#endif
