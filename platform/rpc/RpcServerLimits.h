#pragma once
// Bounds on what a peer may make a server hold or wait for. A peer that
// exceeds them loses its connection; the server goes on.

#include "platform/win/WinTypes.h"

#include <cstddef>

struct RpcServerLimits {
    // Largest fragment taken from a client, and largest sent to one; each
    // connection uses the smaller of these and the client's own sizes. Large
    // replies go out in as few fragments as the client takes.
    USHORT maxRecvFragment = 5840;
    USHORT maxXmitFragment = 0xFFFF;
    // Largest request stub data, summed over its fragments.
    size_t maxRequestBytes = size_t(256) << 20;
    // Memory that requests of more than one fragment may hold while they
    // arrive and run: all connections together, and those of one peer
    // address. A request that finds it spent waits (up to pduTimeoutMs) for
    // others to finish.
    size_t maxRequestBytesInFlight = size_t(512) << 20;
    size_t maxRequestBytesPerPeer = size_t(256) << 20;
    // Presentation contexts one connection may hold.
    size_t maxContextsPerConnection = 64;
    // Requests whose fragments may be arriving at the same time on one
    // connection (their calls run one after the other).
    size_t maxPendingCallsPerConnection = 4;
    // Rejected binds before a connection is closed.
    unsigned maxRejectedBinds = 4;
    // Accepted connections at once, beyond which new ones are closed at once;
    // and those of one peer address, so that one peer leaves room for others.
    size_t maxConnections = 4096;
    size_t maxConnectionsPerPeer = 2048;
    // A new connection must bind within this time.
    DWORD bindTimeoutMs = 10000;
    // A bound connection with nothing in flight is closed (after a shutdown
    // PDU) when it stays silent this long; 0 keeps it for ever.
    DWORD idleTimeoutMs = 30 * 60 * 1000;
    // A started fragment must be complete, and the next fragment of a request
    // must start, within this time; a reply that makes no progress for this
    // long is abandoned.
    DWORD pduTimeoutMs = 30000;
};
