#include "runtime_objects/input_props.h"

#include "runtime_objects/wide_string.h"

namespace asfw::rt {

HRESULT InputProps::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IWMMediaProps && riid != IID_IWMInputMediaProps) return E_NOINTERFACE;
    *object = static_cast<IWMInputMediaProps*>(this);
    AddRef();
    return S_OK;
}

HRESULT InputProps::GetType(GUID* type)
{
    if (type == nullptr) return E_POINTER;
    *type = type_.record().majortype;
    return S_OK;
}

HRESULT InputProps::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) { return type_.copyOut(type, size); }

HRESULT InputProps::SetMediaType(WM_MEDIA_TYPE* type) { return type_.assign(type); }

HRESULT InputProps::GetConnectionName(WCHAR* name, WORD* chars) { return copyWideOut(connectionName_, name, chars); }

HRESULT InputProps::GetGroupName(WCHAR* name, WORD* chars) { return copyWideOut(std::u16string(), name, chars); }

}  // namespace asfw::rt
