// The webpost COM class, created by name and called through IDispatch.
// May contain: COM creation and IDispatch calls; no program logic.
#include "platform/win32/webpost.h"

#include "platform/win32/com.h"

#include <array>
#include <cstdint>

#include "base/command_line.h"
#include "base/errors.h"
#include "platform/win32/support.h"

using win32::Bstr;
using win32::ComPtr;
using win32::Variant;

namespace {

std::string textOfBstr(BSTR text) {
    return text == nullptr ? std::string() : win32::ansiOf(text, ::SysStringLen(text));
}

BSTR allocText(const std::string& text) {
    const std::wstring wide = win32::wideOf(text);
    return ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The runtime's error for a failed IDispatch::Invoke.
RunError dispatchError(HRESULT hr, EXCEPINFO& exception) {
    switch (hr) {
        case DISP_E_EXCEPTION: {
            if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
            const long number = exception.scode != 0 ? static_cast<long>(exception.scode) : exception.wCode;
            return automationError(number, textOfBstr(exception.bstrDescription));
        }
        case DISP_E_UNKNOWNNAME:
        case DISP_E_MEMBERNOTFOUND:
            return runError(err::NoSuchMember);
        case DISP_E_BADPARAMCOUNT:
            return runError(err::WrongArguments);
        case DISP_E_TYPEMISMATCH:
            return runError(err::TypeMismatch);
        case DISP_E_PARAMNOTOPTIONAL:
            return runError(err::ArgumentNotOptional);
        case DISP_E_OVERFLOW:
            return runError(err::Overflow);
        default:
            return automationError(static_cast<long>(hr));
    }
}

class ComWebpostObject : public WebpostObject {
public:
    explicit ComWebpostObject(ComPtr<IDispatch> object) : object_(std::move(object)) {}

    bool PostXMLString(std::string& xml, bool flag, std::string& url, const std::string& text4,
                       const std::string& text5, std::string& response, std::string& error1, std::string& error2,
                       std::string& error3) override {
        OLECHAR name[] = L"PostXMLString";
        LPOLESTR names[] = {name};
        DISPID id = 0;
        HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) {
            EXCEPINFO none{};
            throw dispatchError(hr, none);
        }

        // The by-reference texts: BSTRs that the object may replace.
        std::array<std::string*, 6> refs{&xml, &url, &response, &error1, &error2, &error3};
        std::array<BSTR, 6> strings{};
        for (std::size_t i = 0; i < strings.size(); ++i) strings[i] = allocText(*refs[i]);
        struct Release {
            std::array<BSTR, 6>& s;
            ~Release() {
                for (BSTR& b : s) ::SysFreeString(b);
            }
        } release{strings};
        Bstr fourth(win32::wideOf(text4));
        Bstr fifth(win32::wideOf(text5));

        auto byRef = [](VARIANT& v, BSTR* target) {
            ::VariantInit(&v);
            v.vt = VT_BSTR | VT_BYREF;
            v.pbstrVal = target;
        };
        // IDispatch takes the arguments last first.
        std::array<VARIANT, 9> args{};
        byRef(args[8], &strings[0]);  // 1 the record
        ::VariantInit(&args[7]);      // 2 the flag
        args[7].vt = VT_BOOL;
        args[7].boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
        byRef(args[6], &strings[1]);  // 3 the URL
        ::VariantInit(&args[5]);      // 4, 5 plain texts
        args[5].vt = VT_BSTR;
        args[5].bstrVal = fourth.get();
        ::VariantInit(&args[4]);
        args[4].vt = VT_BSTR;
        args[4].bstrVal = fifth.get();
        byRef(args[3], &strings[2]);  // 6 the response
        byRef(args[2], &strings[3]);  // 7, 8, 9 the error details
        byRef(args[1], &strings[4]);
        byRef(args[0], &strings[5]);

        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        Variant result;
        EXCEPINFO exception{};
        UINT badArgument = 0;
        hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(), &exception,
                             &badArgument);
        // The arguments hold the texts as they are now, whatever the outcome.
        for (std::size_t i = 0; i < strings.size(); ++i) *refs[i] = textOfBstr(strings[i]);
        if (FAILED(hr)) {
            const RunError error = dispatchError(hr, exception);
            ::SysFreeString(exception.bstrSource);
            ::SysFreeString(exception.bstrDescription);
            ::SysFreeString(exception.bstrHelpFile);
            throw error;
        }

        if (result.get()->vt == VT_EMPTY) return false;
        Variant accepted;
        if (FAILED(::VariantChangeType(accepted.get(), result.get(), 0, VT_BOOL))) {
            throw runError(err::TypeMismatch);
        }
        return accepted.get()->boolVal != VARIANT_FALSE;
    }

private:
    ComPtr<IDispatch> object_;
};

}  // namespace

std::unique_ptr<WebpostObject> Win32WebpostLibrary::CreateObject(const std::string& className) {
    if (!win32::ensureComApartment()) throw runError(err::CannotCreate);
    CLSID clsid{};
    HRESULT hr = ::CLSIDFromProgID(win32::wideOf(className).c_str(), &clsid);
    ComPtr<IDispatch> object;
    if (SUCCEEDED(hr)) {
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, reinterpret_cast<void**>(object.put()));
    }
    if (hr == TYPE_E_LIBNOTREGISTERED) throw runError(err::TypeLibNotRegistered);
    // CO_E_CLASSSTRING, REGDB_E_CLASSNOTREG and every other refusal: the
    // runtime reports them all as a component it cannot create.
    if (FAILED(hr) || !object) throw runError(err::CannotCreate);
    return std::make_unique<ComWebpostObject>(std::move(object));
}

bool Win32WebpostLibrary::Register(const std::string& libraryPath) {
    // Quoted when it holds a blank, or regsvr32 gets half the path.
    return win32::startHidden("regsvr32 -s " + wincmd::commandLineProgram(libraryPath)) == 0;
}
