#include "platform/rpc/RpcCall.h"

#include <cstring>
#include <utility>

bool CRpcCall::SpliceReply(size_t offset, std::unique_ptr<BYTE[]> data, size_t length)
{
    const size_t after = splices_ == nullptr || splices_->pieces.empty()
                             ? 0
                             : splices_->pieces.back().offset + splices_->pieces.back().length;
    if (offset < after || offset > reply_.Size() || length > reply_.Size() - offset || (data == nullptr && length != 0))
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
