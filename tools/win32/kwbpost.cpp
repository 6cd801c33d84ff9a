// kWbPost.dll stand-in: an in-process COM server of the class
// "kWbPost.WebPost", whose one method PostXMLString posts an XML record to a
// URL with WinHTTP. For tests and demo machines only.
//
// PostXMLString(xml, flag, url, text4, text5, response, error1, error2, error3)
// takes its texts by value or by reference (BSTR or VARIANT); it POSTs xml as
// the body (Content-Type text/xml, bytes of the system code page) and returns
// True only on an HTTP 2xx answer. The answer's body goes into response; on a
// failure error1 says why, error2 holds the HTTP status (0 without one) and
// error3 the URL. flag, text4 and text5 are accepted and not used.
// regsvr32 registers the class (DllRegisterServer) for the machine.
#include "platform/win32/windows.h"
#include <ole2.h>
#include <olectl.h>
#include <winhttp.h>

#include <string>
#include <vector>

namespace {

// {62C49B2A-8CEF-4768-B0F3-16ABDBCC9793}
const CLSID kClsid = {0x62c49b2a, 0x8cef, 0x4768, {0xb0, 0xf3, 0x16, 0xab, 0xdb, 0xcc, 0x97, 0x93}};
const wchar_t kClsidText[] = L"{62C49B2A-8CEF-4768-B0F3-16ABDBCC9793}";
const wchar_t kProgId[] = L"kWbPost.WebPost";
constexpr DISPID kPostXmlString = 1;
constexpr DWORD kTimeoutMs = 30000;
constexpr std::size_t kMaxResponseBytes = 64 * 1024;

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

// ---- arguments ---------------------------------------------------------------

std::wstring textOf(VARIANT* arg) {
    VARIANT* value = arg;
    if (arg->vt == (VT_BYREF | VT_VARIANT)) value = arg->pvarVal;
    if (value->vt == (VT_BYREF | VT_BSTR)) {
        const BSTR b = *value->pbstrVal;
        return b == nullptr ? std::wstring() : std::wstring(b, ::SysStringLen(b));
    }
    VARIANT converted;
    ::VariantInit(&converted);
    std::wstring text;
    if (SUCCEEDED(::VariantChangeType(&converted, value, 0, VT_BSTR)) && converted.bstrVal != nullptr) {
        text.assign(converted.bstrVal, ::SysStringLen(converted.bstrVal));
    }
    ::VariantClear(&converted);
    return text;
}

// Sets an argument passed by reference; a value argument cannot be set.
void setText(VARIANT* arg, const std::wstring& text) {
    VARIANT* value = arg;
    if (arg->vt == (VT_BYREF | VT_VARIANT)) value = arg->pvarVal;
    if (value->vt == (VT_BYREF | VT_BSTR)) {
        ::SysFreeString(*value->pbstrVal);
        *value->pbstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    } else if (value != arg) {
        ::VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
}

std::string ansiOf(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring wideOf(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring reasonOf(DWORD code) {
    wchar_t buffer[512] = {};
    HMODULE from = ::GetModuleHandleW(L"winhttp.dll");
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               from, code, 0, buffer, 512, nullptr);
    std::wstring text(buffer, n);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text.empty() ? L"WinHTTP error " + std::to_wstring(code) : text;
}

// ---- the post ------------------------------------------------------------------

struct Internet {
    HINTERNET h = nullptr;
    ~Internet() {
        if (h != nullptr) ::WinHttpCloseHandle(h);
    }
};

// POSTs `body`; true on 2xx. `failure` and `status` tell what went wrong.
bool post(const std::wstring& url, const std::string& body, std::string& response, std::wstring& failure,
          DWORD& status) {
    status = 0;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {}, path[2048] = {}, extra[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 2048;
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        failure = L"Invalid URL: " + reasonOf(::GetLastError());
        return false;
    }
    Internet session, connection, request;
    session.h = ::WinHttpOpen(L"kWbPost", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    if (session.h == nullptr) {
        failure = reasonOf(::GetLastError());
        return false;
    }
    ::WinHttpSetTimeouts(session.h, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs * 4);
    connection.h = ::WinHttpConnect(session.h, host, parts.nPort, 0);
    const std::wstring object = std::wstring(path) + extra;
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    if (connection.h != nullptr) {
        request.h = ::WinHttpOpenRequest(connection.h, L"POST", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure);
    }
    if (request.h == nullptr) {
        failure = reasonOf(::GetLastError());
        return false;
    }
    // A redirect would turn the POST into something else: it is a failure.
    DWORD noRedirect = WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirect, sizeof noRedirect);
    const wchar_t headers[] = L"Content-Type: text/xml\r\n";
    if (!::WinHttpSendRequest(request.h, headers, static_cast<DWORD>(-1L), const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !::WinHttpReceiveResponse(request.h, nullptr)) {
        failure = reasonOf(::GetLastError());
        return false;
    }
    DWORD size = sizeof status;
    ::WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                          &status, &size, WINHTTP_NO_HEADER_INDEX);
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.h, &available) || available == 0) break;
        std::vector<char> chunk(available);
        DWORD got = 0;
        if (!::WinHttpReadData(request.h, chunk.data(), available, &got) || got == 0) break;
        if (response.size() < kMaxResponseBytes) {
            response.append(chunk.data(), got < kMaxResponseBytes - response.size() ? got : kMaxResponseBytes - response.size());
        }
    }
    if (status >= 200 && status <= 299) return true;
    failure = L"The server did not accept the record";
    return false;
}

// ---- the COM object --------------------------------------------------------------

class WebPost : public IDispatch {
public:
    WebPost() { ::InterlockedIncrement(&g_objects); }
    virtual ~WebPost() { ::InterlockedDecrement(&g_objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count == 0 || names == nullptr || ids == nullptr) return E_INVALIDARG;
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i) {
            const bool known = i == 0 && ::lstrcmpiW(names[0], L"PostXMLString") == 0;
            ids[i] = known ? kPostXmlString : DISPID_UNKNOWN;
            if (!known) result = DISP_E_UNKNOWNNAME;
        }
        return result;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (id != kPostXmlString) return DISP_E_MEMBERNOTFOUND;
        if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
        if (params == nullptr || params->cArgs != 9) return DISP_E_BADPARAMCOUNT;
        if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        // The arguments arrive last first.
        auto arg = [&](int n) { return &params->rgvarg[9 - n]; };
        const std::wstring xml = textOf(arg(1));
        const std::wstring url = textOf(arg(3));

        std::string response;
        std::wstring failure;
        DWORD status = 0;
        const bool accepted = post(url, ansiOf(xml), response, failure, status);
        setText(arg(6), wideOf(response));
        setText(arg(7), accepted ? L"" : failure);
        setText(arg(8), accepted ? L"" : std::to_wstring(status));
        setText(arg(9), accepted ? L"" : url);
        if (result != nullptr) {
            ::VariantInit(result);
            result->vt = VT_BOOL;
            result->boolVal = accepted ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object: it lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        WebPost* object = new (std::nothrow) WebPost;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) ::InterlockedIncrement(&g_locks);
        else ::InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

Factory g_factory;

// ---- registration ------------------------------------------------------------------

LONG setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    LONG rc = ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(h);
    return rc;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t module[MAX_PATH] = {};
    if (::GetModuleFileNameW(g_module, module, MAX_PATH) == 0) return SELFREG_E_CLASS;
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    LONG rc = setValue(HKEY_CLASSES_ROOT, kProgId, nullptr, L"kWbPost WebPost");
    if (rc == ERROR_SUCCESS) rc = setValue(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText);
    if (rc == ERROR_SUCCESS) rc = setValue(HKEY_CLASSES_ROOT, clsidKey, nullptr, L"kWbPost WebPost");
    if (rc == ERROR_SUCCESS) rc = setValue(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", nullptr, kProgId);
    if (rc == ERROR_SUCCESS) rc = setValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, module);
    if (rc == ERROR_SUCCESS) {
        rc = setValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (clsidKey + L"\\InprocServer32").c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (clsidKey + L"\\ProgID").c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, clsidKey.c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(kProgId) + L"\\CLSID").c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kProgId);
    return S_OK;
}
