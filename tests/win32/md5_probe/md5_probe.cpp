// Md5Probe.dll: an MD5 library for the Win32 backend's tests that checks what
// its block call is given. KGetMD5 fails and leaves values that a text does
// not carry (Null, a number, a character outside the code pages); the block
// call succeeds, with "SAME" as its MD5, only when it gets exactly those.
#include "platform/win32/windows.h"
#include <oleauto.h>

#include <cwchar>

namespace {

const wchar_t kReason[] = L"cannot open \x0416.txt";  // Cyrillic Zhe: in no Western code page
constexpr LONG kSize = 4096;

void setText(VARIANT* target, const wchar_t* text) {
    ::VariantClear(target);
    target->vt = VT_BSTR;
    target->bstrVal = ::SysAllocString(text);
}

}  // namespace

extern "C" short __stdcall KGetMD5(VARIANT, VARIANT* md5, VARIANT* size, VARIANT* error) {
    ::VariantClear(md5);
    md5->vt = VT_NULL;
    ::VariantClear(size);
    size->vt = VT_I4;
    size->lVal = kSize;
    setText(error, kReason);
    return 0;
}

extern "C" short __stdcall KGetMD5WBlock(VARIANT, VARIANT, VARIANT* md5, VARIANT* size, VARIANT* error) {
    const bool same = md5->vt == VT_NULL && size->vt == VT_I4 && size->lVal == kSize && error->vt == VT_BSTR &&
                      std::wcscmp(error->bstrVal, kReason) == 0;
    if (!same) {
        wchar_t got[100];
        std::swprintf(got, 100, L"got md5 vt %u, size vt %u, error vt %u", md5->vt, size->vt, error->vt);
        setText(error, got);
        return 0;
    }
    setText(md5, L"SAME");
    return -1;
}
