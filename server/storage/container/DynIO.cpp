#include "server/storage/container/DynIO.h"

#include "server/storage/attributes/AttributeGuard.h"
#include "server/storage/attributes/AttributeRecordHeader.h"
#include "server/storage/container/LoadBudget.h"
#include "server/storage/container/LzwCoder.h"
#include "server/storage/container/Lzo1x.h"
#include "server/storage/container/Sha1.h"

#include "platform/win/Time.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kTimeOffset = 48;
constexpr std::size_t kTimeSize = 8;
constexpr HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
// A load waits this long for others to give back load memory.
constexpr int kLoadBudgetWaitMs = 30000;

CSha1::Digest PayloadDigest(const BYTE* header, const BYTE* payload, std::size_t size)
{
    CSha1 sha;
    sha.Update(header + kTimeOffset, kTimeSize);
    sha.Update(payload, size);
    return sha.Final();
}

bool IsZeroHeader(const BYTE* p)
{
    return std::all_of(p, p + CDynIO::kHeaderSize, [](BYTE b) { return b == 0; });
}

// The length of the record stream at the start of a file without container
// header, or -1 when its records do not end exactly at its end.
long long BareStreamLength(const std::vector<BYTE>& file)
{
    unsigned long long pos = 0;
    while (pos < file.size()) {
        if (file.size() - pos < CDynIO::kHeaderSize)
            return -1;
        const BYTE* header = file.data() + pos;
        if (IsZeroHeader(header))
            return static_cast<long long>(pos);
        pos += AttributeRecordHeader::Read(header).RecordBytes();
    }
    return pos == file.size() ? static_cast<long long>(pos) : -1;
}

// What the file and its expanded payload already hold comes on top of what
// the records will take.
HRESULT LoadStream(CAttributeDirectory* directory, const BYTE* bytes, std::size_t size, std::size_t held)
{
    const unsigned long long cost = CAttributeDirectory::LoadCost(bytes, size);
    if (cost > CDynIO::kMaxLoadBytes)
        return kTooLarge;
    std::shared_ptr<const void> charge =
        CLoadBudget::Process().Take(static_cast<std::size_t>(cost) + held, kLoadBudgetWaitMs);
    if (!charge)
        return E_OUTOFMEMORY;
    directory->HoldLoadCharge(std::move(charge));
    return directory->LoadFromBuffer(size > 0 ? bytes : nullptr, static_cast<LONG>(size));
}

HRESULT LoadContainer(const std::vector<BYTE>& file, CAttributeDirectory* directory)
{
    const AttributeRecordHeader header = AttributeRecordHeader::Read(file.data());
    const std::size_t digestSize = header.nameSize;
    const std::size_t storedSize = header.valueSize;
    if (CDynIO::kHeaderSize + static_cast<unsigned long long>(digestSize) + storedSize > file.size())
        return STG_E_PROPSETMISMATCHED;
    if (storedSize == 0)
        return S_OK;

    const BYTE* stored = file.data() + CDynIO::kHeaderSize + digestSize;
    if ((header.flags & CONTAINER_SHA1) != 0 || digestSize != 0) {
        // A digest of any other length cannot be the one the payload had.
        if (digestSize != CSha1::kDigestSize)
            return SEC_E_MESSAGE_ALTERED;
        const CSha1::Digest digest = PayloadDigest(file.data(), stored, storedSize);
        if (std::memcmp(digest.data(), file.data() + CDynIO::kHeaderSize, digest.size()) != 0)
            return SEC_E_MESSAGE_ALTERED;
    }

    const BYTE* payload = stored;
    std::size_t payloadSize = storedSize;
    std::unique_ptr<BYTE[]> lzwBytes;
    if ((header.flags & CONTAINER_LZW) != 0) {
        CLzwCoder coder;
        const long long expanded = coder.Expand(payload, payloadSize, &lzwBytes, CDynIO::kMaxContainerBytes);
        if (expanded < 0)
            return E_FAIL;
        payload = lzwBytes.get();
        payloadSize = static_cast<std::size_t>(expanded);
    }
    std::vector<BYTE> lzoBytes;
    if ((header.flags & CONTAINER_LZO1X) != 0) {
        HRESULT hr = Lzo1xExpand(payload, payloadSize, CDynIO::kMaxContainerBytes, &lzoBytes);
        if (FAILED(hr))
            return hr;
        payload = lzoBytes.data();
        payloadSize = lzoBytes.size();
    }
    return LoadStream(directory, payload, payloadSize,
                      file.size() + (payload == file.data() + CDynIO::kHeaderSize + digestSize ? 0 : payloadSize));
}

// Closes an open handle however the caller leaves.
class OpenHandle {
public:
    explicit OpenHandle(IFileIO* files) : files_(files) {}
    ~OpenHandle()
    {
        if (handle != -1)
            files_->CloseFile(handle);
    }
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;

    HRESULT Close()
    {
        const LONG h = handle;
        handle = -1;
        return files_->CloseFile(h);
    }

    LONG handle = -1;

private:
    IFileIO* files_;
};

} // namespace

HRESULT CDynIO::ReadAll(const char* name, std::vector<BYTE>* bytes)
{
    OpenHandle file(files_);
    HRESULT hr = files_->OpenFile(name, GENERIC_READ, &file.handle);
    if (FAILED(hr)) {
        file.handle = -1; // nothing was opened, whatever the handle says
        return hr;
    }
    LONG size = 0;
    hr = files_->GetFileSize(name, &size);
    if (SUCCEEDED(hr)) {
        if (size < 0 || static_cast<std::size_t>(size) > kMaxContainerBytes) {
            hr = kTooLarge;
        } else {
            bytes->resize(static_cast<std::size_t>(size));
            DWORD read = 0;
            hr = files_->ReadFile(file.handle, bytes->data(), static_cast<DWORD>(size), &read);
            bytes->resize(std::min<std::size_t>(read, bytes->size()));
        }
    }
    const HRESULT closed = file.Close();
    return FAILED(hr) ? hr : closed;
}

HRESULT CDynIO::Load(const char* name, CAttributeDirectory* directory)
{
    if (name == nullptr || directory == nullptr)
        return E_INVALIDARG;
    if (files_ == nullptr)
        return E_UNEXPECTED;
    return attrib::Guarded([&]() -> HRESULT {
        HRESULT hr = directory->Clear();
        if (FAILED(hr))
            return hr;
        std::vector<BYTE> file;
        hr = ReadAll(name, &file);
        if (FAILED(hr))
            return hr;
        if (file.size() < kHeaderSize)
            return S_OK;
        if (AttributeRecordHeader::Read(file.data()).id == static_cast<LONG>(kVersion))
            return LoadContainer(file, directory);
        const long long length = BareStreamLength(file);
        if (length < 0)
            return STG_E_PROPSETMISMATCHED;
        return LoadStream(directory, file.data(), static_cast<std::size_t>(length), file.size());
    });
}

HRESULT CDynIO::Save(const char* name, CAttributeDirectory* directory, DWORD flags)
{
    if ((flags & (CONTAINER_LZW | CONTAINER_LZO1X)) == (CONTAINER_LZW | CONTAINER_LZO1X))
        return E_INVALIDARG;
    if (name == nullptr || directory == nullptr)
        return E_INVALIDARG;
    if (files_ == nullptr)
        return E_UNEXPECTED;
    return attrib::Guarded([&]() -> HRESULT {
        LONG n = 0;
        HRESULT hr = directory->GetSerializedSize(&n);
        if (FAILED(hr))
            return hr;
        if (n < 0)
            return E_UNEXPECTED;
        if (static_cast<std::size_t>(n) > kMaxContainerBytes)
            return kTooLarge;

        AttributeRecordHeader header;
        header.id = static_cast<LONG>(kVersion);
        header.userWord = 1;
        header.flags = flags;
        GetSystemTimeAsFileTime(&header.time);

        std::vector<BYTE> payload;
        if (n > 0) {
            std::vector<BYTE> stream(static_cast<std::size_t>(n));
            LONG size = n;
            hr = directory->Serialize(stream.data(), &size);
            if (FAILED(hr))
                return hr;
            if ((flags & CONTAINER_LZO1X) != 0) {
                hr = Lzo1xCompress(stream.data(), stream.size(), &payload);
                if (FAILED(hr))
                    return hr;
                if (payload.size() - 4 >= stream.size()) {
                    payload = std::move(stream);
                    header.flags &= ~CONTAINER_LZO1X;
                }
            } else if ((flags & CONTAINER_LZW) != 0) {
                CLzwCoder coder;
                std::unique_ptr<BYTE[]> coded;
                const std::size_t codedSize = coder.Compress(stream.data(), stream.size(), &coded);
                payload.assign(coded.get(), coded.get() + codedSize);
            } else {
                payload = std::move(stream);
            }
            if ((flags & CONTAINER_SHA1) != 0)
                header.nameLength = header.nameSize = CSha1::kDigestSize;
            header.valueLength = header.valueSize = static_cast<DWORD>(payload.size());
        }

        const std::size_t digestSize = header.nameSize;
        const std::size_t total = kHeaderSize + digestSize + payload.size();
        if (total > kMaxContainerBytes)
            return kTooLarge;
        std::vector<BYTE> file(total);
        header.Write(file.data());
        std::copy(payload.begin(), payload.end(), file.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + digestSize));
        if (digestSize != 0) {
            const CSha1::Digest digest = PayloadDigest(file.data(), payload.data(), payload.size());
            std::copy(digest.begin(), digest.end(), file.begin() + kHeaderSize);
        }
        return WriteFile(name, file.data(), static_cast<DWORD>(file.size()));
    });
}

HRESULT CDynIO::WriteFile(const char* name, const BYTE* bytes, DWORD length)
{
    if (name == nullptr || (bytes == nullptr && length > 0))
        return E_INVALIDARG;
    if (files_ == nullptr)
        return E_UNEXPECTED;
    if (length > 0x7FFFFFFFu)
        return kTooLarge;
    // The whole-file write replaces the file at once: a save that dies on
    // the way leaves the old file, never an empty or torn one.
    return attrib::Guarded([&]() -> HRESULT { return files_->WriteWholeFile(name, bytes, static_cast<LONG>(length)); });
}
