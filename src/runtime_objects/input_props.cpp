#include "runtime_objects/input_props.h"

#include "runtime_objects/wide_string.h"

namespace asfw::rt {

HRESULT InputProps::QueryInterface(REFIID riid, void** object)
try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IWMMediaProps && riid != IID_IWMInputMediaProps) return E_NOINTERFACE;
    *object = static_cast<IWMInputMediaProps*>(this);
    AddRef();
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT InputProps::GetType(GUID* type)
try {
    if (type == nullptr) return E_POINTER;
    *type = type_.record().majortype;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT InputProps::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size)
try {
    return type_.copyOut(type, size);
} catch (...) {
    return resultOfException();
}

HRESULT InputProps::SetMediaType(WM_MEDIA_TYPE* type)
try {
    return type_.assign(type);
} catch (...) {
    return resultOfException();
}

HRESULT InputProps::GetConnectionName(WCHAR* name, WORD* chars)
try {
    return copyWideOut(connectionName_, name, chars);
} catch (...) {
    return resultOfException();
}

HRESULT InputProps::GetGroupName(WCHAR* name, WORD* chars)
try {
    return copyWideOut(std::u16string(), name, chars);
} catch (...) {
    return resultOfException();
}

}  // namespace asfw::rt
