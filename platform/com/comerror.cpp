// The exception raised when a component-object call fails.
#include <cstdio>

#include "twxml/platform/com_internal.h"

namespace {

struct Message {
  HRESULT hr;
  const char* text;
};

constexpr Message kMessages[] = {
    {S_OK, "The operation completed successfully"},
    {S_FALSE, "The operation completed with a false result"},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_ACCESSDENIED, "Access is denied"},
    {E_HANDLE, "Invalid handle"},
    {E_OUTOFMEMORY, "Not enough memory"},
    {E_INVALIDARG, "The parameter is incorrect"},
    {STG_E_FILENOTFOUND, "The file could not be found"},
    {STG_E_PATHNOTFOUND, "The path could not be found"},
    {STG_E_ACCESSDENIED, "Access denied"},
    {STG_E_INVALIDHANDLE, "Invalid handle"},
    {STG_E_INSUFFICIENTMEMORY, "Not enough memory"},
    {STG_E_INVALIDPOINTER, "Invalid pointer"},
    {STG_E_WRITEFAULT, "A disk error occurred during a write operation"},
    {STG_E_READFAULT, "A disk error occurred during a read operation"},
    {STG_E_INVALIDPARAMETER, "Invalid parameter"},
    {STG_E_MEDIUMFULL, "There is insufficient disk space"},
    {STG_E_INVALIDFLAG, "Invalid flag"},
    {CO_E_NOTINITIALIZED, "The component runtime has not been initialized on this thread"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation"},
    {RPC_E_CHANGED_MODE, "Cannot change thread mode after it is set"},
    {DISP_E_TYPEMISMATCH, "Type mismatch"},
    {DISP_E_BADVARTYPE, "Bad variable type"},
    {DISP_E_OVERFLOW, "Out of present range"},
};

}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* info, bool addRef) : hr_(hr), info_(info) {
  if (info_ && addRef) info_->AddRef();
}

_com_error::_com_error(const _com_error& other) : hr_(other.hr_), info_(other.info_) {
  if (info_) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& other) {
  if (this != &other) {
    if (other.info_) other.info_->AddRef();
    if (info_) info_->Release();
    hr_ = other.hr_;
    info_ = other.info_;
  }
  return *this;
}

_com_error::~_com_error() {
  if (info_) info_->Release();
}

std::u16string _com_error::Description() const {
  std::u16string out;
  if (info_ == nullptr) return out;
  BSTR text = nullptr;
  if (SUCCEEDED(info_->GetDescription(&text)) && text != nullptr) {
    out.assign(text, SysStringLen(text));
  }
  SysFreeString(text);
  return out;
}

const char* _com_error::ErrorMessage() const {
  for (const Message& m : kMessages) {
    if (m.hr == hr_) return m.text;
  }
  // Unknown codes are formatted into a small per-thread ring, so the text
  // stays valid across a few further calls on the same thread.
  thread_local char ring[4][32];
  thread_local unsigned next = 0;
  char* slot = ring[next++ % 4];
  std::snprintf(slot, sizeof ring[0], "Unknown error 0x%08X", static_cast<unsigned>(hr_));
  return slot;
}

void _com_raise_error(HRESULT hr, IErrorInfo* info) { throw _com_error(hr, info, false); }
