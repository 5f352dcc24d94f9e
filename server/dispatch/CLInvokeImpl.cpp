#include "server/dispatch/CLInvokeImpl.h"

#include "platform/win/StringCompare.h"
#include "server/dispatch/CallItems.h"
#include "server/dispatch/CallLog.h"
#include "server/dispatch/Finally.h"
#include "server/dispatch/LockedDispatch.h"
#include "server/shared/ComputerList.h"
#include "server/shared/FormatText.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

constexpr const char* kSourceFile = "CLInvokeImpl";
constexpr const char* kListFile = "complist.fdb";

// The server's own files in the storage folder; a copy of the computer list
// must never replace one of them, nor their database side files.
constexpr const char* kServerFiles[] = {"userlist.fdb", "complist.fdb", "settings.ad", "LDAPConfig.ad"};

std::string LastComponent(const std::string& name)
{
    auto cut = name.find_last_of("\\/");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The list's own file itself is fine: saving under it copies nothing.
bool IsServerFile(const std::string& name)
{
    const std::string file = LastComponent(name);
    if (StrCmpIA(file.c_str(), kListFile) == 0)
        return false;
    for (const char* own : kServerFiles)
        if (StrCmpNIA(file.c_str(), own, std::strlen(own)) == 0)
            return true;
    return false;
}

std::unique_ptr<char[]> EmptyText()
{
    return std::make_unique<char[]>(1);
}

std::string FieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size - 1));
}

int Signed(DWORD value)
{
    return static_cast<int>(value);
}

} // namespace

CCLInvokeImpl::CCLInvokeImpl() = default;

CCLInvokeImpl::~CCLInvokeImpl()
{
    ReleaseComputerListStore(store_);
}

HRESULT CCLInvokeImpl::SetUp(ITQLog* log, IFileIO2* files)
{
    log_ = log;
    files_ = files;
    CreateComputerListStore(&store_, files);
    return S_OK;
}

IComputerList2& CCLInvokeImpl::Store()
{
    if (store_ == nullptr)
        throw std::logic_error("computer list store not created");
    return *store_;
}

template <class Body>
HRESULT CCLInvokeImpl::Logged(CInvokeData* r, const char* operation, int exceptionLine, Body body)
{
    return CCallLog::Run(log_, *r, kSourceFile, "CCLInvokeImpl", operation, exceptionLine, body);
}

HRESULT CCLInvokeImpl::Dispatch(CInvokeData* record)
{
    struct Route {
        DWORD code;
        HRESULT (CCLInvokeImpl::*handler)(CInvokeData*);
        bool saves;
    };
    static const Route routes[] = {
        {4001, &CCLInvokeImpl::OnLoadComputerList, false},
        {4002, &CCLInvokeImpl::OnSaveComputerList, false},
        {4003, &CCLInvokeImpl::OnAddSchemaNode, true},
        {4004, &CCLInvokeImpl::OnDeleteSchemaNode, true},
        {4007, &CCLInvokeImpl::OnAddComputer, true},
        {4008, &CCLInvokeImpl::OnDeleteComputer, true},
        {4010, &CCLInvokeImpl::OnSetComputerInformation, true},
        {4011, &CCLInvokeImpl::OnGetComputerInformation, false},
        {4013, &CCLInvokeImpl::OnClearAllPendingOps, true},
        {4014, &CCLInvokeImpl::OnAddPendingOp, true},
        {4015, &CCLInvokeImpl::OnDeletePendingOp, true},
        {4016, &CCLInvokeImpl::OnUpdatePendingOp, true},
        {4023, &CCLInvokeImpl::OnGetCompleteSchemaNodeList, false},
        {4028, &CCLInvokeImpl::OnGetCompleteComputerList, false},
        {4032, &CCLInvokeImpl::OnGetCompletePendingOpsList, false},
        {4033, &CCLInvokeImpl::OnGetPendingOp, false},
        {4034, &CCLInvokeImpl::OnAddDowntimeSchedule, true},
        {4035, &CCLInvokeImpl::OnDeleteDowntimeSchedule, true},
        {4036, &CCLInvokeImpl::OnClearAllDowntimeSchedules, true},
        {4037, &CCLInvokeImpl::OnGetCompleteDowntimeList, false},
    };
    return DispatchLocked(record, mutex_, std::chrono::milliseconds(kLockWaitMs), routes, [&](const Route& route) {
        const HRESULT hr = (this->*route.handler)(record);
        if (route.saves && store_ != nullptr)
            store_->SaveComputerList(kListFile);
        return hr;
    });
}

HRESULT CCLInvokeImpl::OnLoadComputerList(CInvokeData* r)
{
    return Logged(r, "LoadComputerList", 208, [&](CCallLog& log) {
        const std::string name = PopName(r);
        const std::string text = FormatText("LoadComputerList(%s)", name.c_str());
        log.Begin(text, 199);
        r->result = Store().LoadComputerList(name.c_str());
        log.End(text, r->result, 203);
    });
}

HRESULT CCLInvokeImpl::OnSaveComputerList(CInvokeData* r)
{
    return Logged(r, "SaveComputerList", 232, [&](CCallLog& log) {
        const std::string name = PopName(r);
        const std::string text = FormatText("SaveComputerList(%s)", name.c_str());
        log.Begin(text, 223);
        if (LastComponent(name).empty())
            r->result = S_OK; // every path contains the empty name: nothing to copy
        else if (IsServerFile(name))
            r->result = E_ACCESSDENIED;
        else
            r->result = Store().SaveComputerList(name.c_str());
        log.End(text, r->result, 227);
    });
}

HRESULT CCLInvokeImpl::OnAddSchemaNode(CInvokeData* r)
{
    return Logged(r, "AddSchemaNode", 262, [&](CCallLog& log) {
        SchemaNodeRecord node{};
        r->PopBuffer(reinterpret_cast<BYTE*>(&node), sizeof node);
        const std::string name = FieldText(node.name, sizeof node.name);
        log.Begin(FormatText("AddSchemaNode(%s)", name.c_str()), 249);
        LONG schemaId = 0;
        const HRESULT hr = Store().AddSchemaNode(&node, &schemaId);
        r->PushOutLong(schemaId);
        r->result = hr;
        log.End(FormatText("AddSchemaNode(%s) = %d", name.c_str(), schemaId), r->result, 257);
    });
}

HRESULT CCLInvokeImpl::OnDeleteSchemaNode(CInvokeData* r)
{
    return Logged(r, "DeleteSchemaNode", 287, [&](CCallLog& log) {
        const DWORD schemaId = PopDword(r);
        const std::string text = FormatText("DeleteSchemaNode(%d)", Signed(schemaId));
        log.Begin(text, 277);
        r->result = Store().DeleteSchemaNode(schemaId);
        log.End(text, r->result, 282);
    });
}

HRESULT CCLInvokeImpl::OnAddComputer(CInvokeData* r)
{
    return Logged(r, "AddComputer", 339, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const std::string text = FormatText("AddComputer(%s)", computer.c_str());
        log.Begin(text, 331);
        r->result = Store().AddComputer(computer.c_str());
        log.End(text, r->result, 334);
    });
}

HRESULT CCLInvokeImpl::OnDeleteComputer(CInvokeData* r)
{
    return Logged(r, "DeleteComputer", 362, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const std::string text = FormatText("DeleteComputer(%s)", computer.c_str());
        log.Begin(text, 354);
        r->result = Store().DeleteComputer(computer.c_str());
        log.End(text, r->result, 357);
    });
}

HRESULT CCLInvokeImpl::OnSetComputerInformation(CInvokeData* r)
{
    return Logged(r, "SetComputerInformation", 413, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD appId = PopDword(r);
        const DWORD id = PopDword(r);
        DWORD length = 0;
        auto data = PopBytes(r, &length);
        // A computer reporting its identity item also gets the caller's GUID
        // stored as its computer id, which the console resolves names by.
        if (appId == 11 && id == 2) {
            const std::string guid = UuidToString(r->callerGuid);
            Store().SetComputerInformation(computer.c_str(), kServerAppId, kItemComputerId,
                                           reinterpret_cast<const BYTE*>(guid.c_str()),
                                           static_cast<int>(guid.size() + 1));
        }
        const std::string text =
            FormatText("SetComputerInformation(%s,%d,%d)", computer.c_str(), Signed(appId), Signed(id));
        log.Begin(text, 402);
        r->result = Store().SetComputerInformation(computer.c_str(), appId, id, data.get(), static_cast<int>(length));
        data.reset();
        log.End(text, r->result, 408);
    });
}

HRESULT CCLInvokeImpl::OnGetComputerInformation(CInvokeData* r)
{
    return Logged(r, "GetComputerInformation", 450, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD appId = PopDword(r);
        const DWORD id = PopDword(r);
        log.Begin(FormatText("GetComputerInformation(%s,%d,%d)", computer.c_str(), Signed(appId), Signed(id)), 436);
        BYTE* data = nullptr;
        int size = 0;
        IComputerList2& store = Store();
        const HRESULT hr = store.GetComputerInformation(computer.c_str(), appId, id, &data, &size);
        Finally release([&] {
            if (data != nullptr)
                store.FreeComputerInformation(data);
        });
        r->PushOutBytes(data, static_cast<DWORD>(size));
        r->result = hr;
        log.End(FormatText("GetComputerInformation(%s,%d,%d) - %d bytes", computer.c_str(), Signed(appId),
                           Signed(id), size),
                r->result, 445);
    });
}

HRESULT CCLInvokeImpl::OnClearAllPendingOps(CInvokeData* r)
{
    return Logged(r, "ClearAllPendingOps", 543, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD mask = PopDword(r);
        const std::string text = FormatText("ClearAllPendingOps(%s,0x%X)", computer.c_str(), mask);
        log.Begin(text, 533);
        r->result = Store().ClearAllPendingOps(computer.c_str(), mask);
        log.End(text, r->result, 538);
    });
}

HRESULT CCLInvokeImpl::OnAddPendingOp(CInvokeData* r)
{
    return Logged(r, "AddPendingOp", 652, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        PendingOpRecord op{};
        r->PopBuffer(reinterpret_cast<BYTE*>(&op), sizeof op);
        DWORD descriptionLength = 0, remarksLength = 0, dataLength = 0;
        auto description = PopText(r, &descriptionLength);
        auto remarks = PopText(r, &remarksLength);
        auto data = PopBytes(r, &dataLength);
        const DWORD priority = PopDword(r);
        if (description == nullptr) {
            description = EmptyText();
            descriptionLength = 0;
        }
        if (remarks == nullptr) {
            remarks = EmptyText();
            remarksLength = 0;
        }
        op.description = description.get();
        op.descriptionLength = descriptionLength;
        op.remarks = remarks.get();
        op.remarksLength = remarksLength;
        op.data = data.get();
        op.dataSize = dataLength;

        char preview[20] = {};
        if (dataLength > 4)
            std::memcpy(preview, data.get(), std::min<DWORD>(dataLength, 15));
        if (dataLength > 15)
            std::strcat(preview, "...");
        log.Begin(FormatText("AddPendingOp(%s,%d,op=%d,size=%d,%s)", computer.c_str(), Signed(op.appId),
                             Signed(op.id), Signed(dataLength), preview),
                  625);
        LONG opId = 0;
        const HRESULT hr = Store().AddPendingOp(computer.c_str(), &op, static_cast<int>(priority), &opId);
        r->PushOutLong(opId);
        r->result = hr;
        log.End(FormatText("AddPendingOp(%s,%d,op=%d,size=%d,%s)=%d", computer.c_str(), Signed(op.appId),
                           Signed(op.id), Signed(dataLength), preview, opId),
                r->result, 647);
    });
}

HRESULT CCLInvokeImpl::OnDeletePendingOp(CInvokeData* r)
{
    return Logged(r, "DeletePendingOp", 714, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD opId = PopDword(r);
        const std::string text = FormatText("DeletePendingOp(%s,%d)", computer.c_str(), Signed(opId));
        log.Begin(text, 704);
        r->result = Store().DeletePendingOp(computer.c_str(), opId);
        log.End(text, r->result, 709);
    });
}

HRESULT CCLInvokeImpl::OnUpdatePendingOp(CInvokeData* r)
{
    return Logged(r, "UpdatePendingOp", 687, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD opId = PopDword(r);
        const DWORD status = PopDword(r);
        const DWORD result = PopDword(r);
        DWORD remarksLength = 0;
        auto remarks = PopText(r, &remarksLength);
        const std::string text = FormatText("UpdatePendingOp(%s,%d)", computer.c_str(), Signed(opId));
        log.Begin(text, 676);
        r->result = Store().UpdatePendingOp(computer.c_str(), opId, status, result, remarks.get());
        log.End(text, r->result, 682);
    });
}

HRESULT CCLInvokeImpl::OnGetCompleteSchemaNodeList(CInvokeData* r)
{
    return Logged(r, "GetCompleteSchemaNodeList", 315, [&](CCallLog& log) {
        const std::string text = "GetCompleteSchemaNodeList()";
        log.Begin(text, 298);
        BYTE* list = nullptr;
        int length = 0;
        IComputerList2& store = Store();
        const HRESULT hr = store.GetCompleteSchemaNodeList(&list, &length);
        Finally release([&] {
            if (list != nullptr)
                store.FreeSchemaNodeList(list);
        });
        r->PushOutBytes(list, static_cast<DWORD>(length));
        r->result = hr;
        log.End(text, r->result, 310);
    });
}

HRESULT CCLInvokeImpl::OnGetCompleteComputerList(CInvokeData* r)
{
    return Logged(r, "GetCompleteComputerList", 479, [&](CCallLog& log) {
        log.Begin("GetCompleteComputerList()", 464);
        char* list = nullptr;
        int length = 0;
        IComputerList2& store = Store();
        const HRESULT hr = store.GetCompleteComputerList(&list, &length);
        Finally release([&] {
            if (list != nullptr)
                store.FreeComputerList(list);
        });
        r->PushOutBytes(list, static_cast<DWORD>(length));
        r->result = hr;
        log.End(FormatText("GetCompleteComputerList() - %d bytes", length), r->result, 474);
    });
}

HRESULT CCLInvokeImpl::OnGetCompletePendingOpsList(CInvokeData* r)
{
    return Logged(r, "GetCompletePendingOpsList", 516, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD word = PopDword(r);
        log.Begin(FormatText("GetCompletePendingOpsList(%s)", computer.c_str()), 501);
        BYTE* list = nullptr;
        int length = 0;
        IComputerList2& store = Store();
        const HRESULT hr = store.GetCompletePendingOpsList(computer.c_str(), word, &list, &length);
        Finally release([&] {
            if (list != nullptr)
                store.FreePendingOpsList(list);
        });
        r->PushOutBytes(list, static_cast<DWORD>(length));
        r->result = hr;
        log.End(FormatText("GetCompletePendingOpsList(%s) - %d bytes", computer.c_str(), length), r->result, 511);
    });
}

HRESULT CCLInvokeImpl::OnGetPendingOp(CInvokeData* r)
{
    return Logged(r, "GetPendingOp", 580, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD opId = PopDword(r);
        const std::string text = FormatText("GetPendingOp(%s,%d)", computer.c_str(), Signed(opId));
        log.Begin(text, 560);
        PendingOpRecord* op = nullptr;
        IComputerList2& store = Store();
        // The record is handed out also on failure.
        const HRESULT hr = store.GetPendingOp(computer.c_str(), opId, &op);
        Finally release([&] {
            if (op != nullptr)
                store.FreePendingOp(op);
        });
        if (SUCCEEDED(hr) && op != nullptr) {
            // The pointer slots mean nothing to the client; they go out as
            // zeros rather than as addresses of this process.
            PendingOpRecord image = *op;
            image.data = nullptr;
            image.description = nullptr;
            image.remarks = nullptr;
            r->PushOutBytes(&image, sizeof image);
            r->PushOutString(op->description);
            r->PushOutString(op->remarks);
            r->PushOutBytes(op->data, op->dataSize);
        }
        r->result = hr;
        log.End(text, r->result, 575);
    });
}

HRESULT CCLInvokeImpl::OnAddDowntimeSchedule(CInvokeData* r)
{
    return Logged(r, "AddDowntimeSchedule", 758, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        DowntimeRecord schedule{};
        r->PopBuffer(reinterpret_cast<BYTE*>(&schedule), sizeof schedule);
        DWORD remarksLength = 0;
        auto remarks = PopText(r, &remarksLength);
        if (remarks == nullptr)
            remarks = EmptyText();
        schedule.remarks = remarks.get();
        log.Begin(FormatText("AddDowntimeSchedule(%s,%s)", computer.c_str(), remarks.get()), 742);
        LONG downId = 0;
        const HRESULT hr = Store().AddDowntimeSchedule(computer.c_str(), &schedule, &downId);
        r->PushOutLong(downId);
        r->result = hr;
        log.End(FormatText("AddDowntimeSchedule(%s,%s) = %d", computer.c_str(), remarks.get(), downId), r->result, 750);
    });
}

HRESULT CCLInvokeImpl::OnDeleteDowntimeSchedule(CInvokeData* r)
{
    return Logged(r, "DeleteDowntimeSchedule", 785, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const DWORD downId = PopDword(r);
        const std::string text = FormatText("DeleteDowntimeSchedule(%s,%d)", computer.c_str(), Signed(downId));
        log.Begin(text, 775);
        r->result = Store().DeleteDowntimeSchedule(computer.c_str(), downId);
        log.End(text, r->result, 780);
    });
}

HRESULT CCLInvokeImpl::OnClearAllDowntimeSchedules(CInvokeData* r)
{
    return Logged(r, "ClearAllDowntimeSchedules", 809, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const std::string text = FormatText("ClearAllDowntimeSchedules(%s)", computer.c_str());
        log.Begin(text, 799);
        r->result = Store().ClearAllDowntimeSchedules(computer.c_str());
        log.End(text, r->result, 804);
    });
}

HRESULT CCLInvokeImpl::OnGetCompleteDowntimeList(CInvokeData* r)
{
    return Logged(r, "GetCompleteDowntimeList", 841, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        log.Begin(FormatText("GetCompleteDowntimeList(%s)", computer.c_str()), 826);
        BYTE* list = nullptr;
        int length = 0;
        IComputerList2& store = Store();
        const HRESULT hr = store.GetCompleteDowntimeList(computer.c_str(), &list, &length);
        Finally release([&] {
            if (list != nullptr)
                store.FreeDowntimeList(list);
        });
        r->PushOutBytes(list, static_cast<DWORD>(length));
        r->result = hr;
        log.End(FormatText("GetCompleteDowntimeList(%s) - %d bytes", computer.c_str(), length), r->result, 836);
    });
}
