#include "platform/rpc/RpcCall.h"

#include <cstring>
#include <utility>

bool CRpcCall::SpliceFits(size_t offset, size_t length) const
{
    const size_t after = splices_ == nullptr || splices_->pieces.empty()
                             ? 0
                             : splices_->pieces.back().offset + splices_->pieces.back().length;
    return offset >= after && offset <= reply_.Size() && length <= reply_.Size() - offset;
}

bool CRpcCall::SpliceReply(size_t offset, rpc::StubSource source, size_t length)
{
    if (!SpliceFits(offset, length) || (source == nullptr && length != 0))
        return false;
    if (length == 0)
        return true;
    if (splices_ == nullptr)
        return source(0, reply_.Data() + offset, length);
    splices_->pieces.push_back({offset, length, nullptr, std::move(source)});
    return true;
}

bool CRpcCall::SpliceReply(size_t offset, std::unique_ptr<BYTE[]> data, size_t length)
{
    if (!SpliceFits(offset, length) || (data == nullptr && length != 0))
        return false;
    if (length == 0)
        return true;
    if (splices_ == nullptr) {
        std::memcpy(reply_.Data() + offset, data.get(), length);
        return true;
    }
    splices_->pieces.reserve(splices_->pieces.size() + 1);
    const BYTE* bytes = data.get();
    splices_->blocks.push_back(std::move(data));
    splices_->pieces.push_back({offset, length, bytes});
    return true;
}

void CRpcCall::DiscardReply()
{
    reply_.Clear();
    if (splices_ != nullptr)
        splices_->Clear();
}
