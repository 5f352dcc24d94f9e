#include "platform/rpc/RpcInterfaceRegistry.h"

#include <algorithm>

RPC_STATUS CRpcInterfaceRegistry::Register(RpcInterfaceDefinition definition)
{
    std::unique_lock lock(mutex_);
    for (const auto& e : entries_)
        if (e->definition.uuid == definition.uuid && e->definition.versionMajor == definition.versionMajor)
            return RPC_S_TYPE_ALREADY_REGISTERED;
    entries_.push_back(std::make_shared<Entry>(std::move(definition)));
    return RPC_S_OK;
}

RPC_STATUS CRpcInterfaceRegistry::Unregister(const GUID& uuid, USHORT major, USHORT minor, bool waitForCalls)
{
    std::shared_ptr<Entry> entry;
    {
        std::unique_lock lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) {
            return e->definition.uuid == uuid && e->definition.versionMajor == major &&
                   e->definition.versionMinor == minor;
        });
        if (it == entries_.end())
            return RPC_S_UNKNOWN_IF;
        entry = *it;
        entries_.erase(it);
    }
    entry->removed.store(true);
    if (waitForCalls) {
        std::unique_lock lock(entry->mutex);
        entry->idle.wait(lock, [&] { return entry->activeCalls.Sum() == 0; });
    }
    return RPC_S_OK;
}

std::shared_ptr<CRpcInterfaceRegistry::Entry> CRpcInterfaceRegistry::Find(const rpc::SyntaxId& abstract) const
{
    std::shared_lock lock(mutex_);
    for (const auto& e : entries_)
        if (e->definition.uuid == abstract.uuid && e->definition.versionMajor == abstract.major &&
            e->definition.versionMinor >= abstract.minor)
            return e;
    return nullptr;
}

bool CRpcInterfaceRegistry::BeginCall(Entry& entry)
{
    // Count first, then look: Unregister sets the flag first, then waits for
    // the count, so no call slips between the two.
    entry.activeCalls.Add(1);
    if (entry.removed.load()) {
        EndCall(entry);
        return false;
    }
    return true;
}

void CRpcInterfaceRegistry::EndCall(Entry& entry)
{
    entry.activeCalls.Add(-1);
    // Only the sum tells whether this was the last call: once withdrawn, the
    // waiting side looks each time.
    if (entry.removed.load()) {
        std::lock_guard lock(entry.mutex);
        entry.idle.notify_all();
    }
}
