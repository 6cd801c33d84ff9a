// The MD5 library DLL, loaded at run time and called with VARIANT arguments.
// May contain: LoadLibrary/GetProcAddress and VARIANT conversions; no program logic.
#include "platform/win32/md5.h"

#include "platform/win32/com.h"

#include "base/errors.h"
#include "platform/win32/support.h"

using win32::Variant;

namespace {

using KGetMD5Fn = short(__stdcall*)(VARIANT path, VARIANT* md5, VARIANT* size, VARIANT* error);
using KGetMD5WBlockFn = short(__stdcall*)(VARIANT path, VARIANT blockSize, VARIANT* md5, VARIANT* size,
                                          VARIANT* error);

void setText(Variant& v, const std::string& text) {
    v.clear();
    v.get()->vt = VT_BSTR;
    const std::wstring wide = win32::wideOf(text);
    v.get()->bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// An empty text stands for a value never set.
void setOptionalText(Variant& v, const std::string& text) {
    v.clear();
    if (!text.empty()) setText(v, text);
}

// The value as text, as the runtime shows a VARIANT; "" for Empty and Null
// and for values that have no text form.
std::string textOf(const Variant& v) {
    const VARIANT* value = v.get();
    if (value->vt == VT_EMPTY || value->vt == VT_NULL) return "";
    Variant converted;
    if (FAILED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(value), VARIANT_ALPHABOOL, VT_BSTR))) {
        return "";
    }
    const BSTR text = converted.get()->bstrVal;
    return text == nullptr ? std::string() : win32::ansiOf(text, ::SysStringLen(text));
}

// The file name of a library path, for the runtime's error texts.
std::string fileNameOfLibrary(const std::string& library) {
    const auto slash = library.find_last_of("\\/");
    return slash == std::string::npos ? library : library.substr(slash + 1);
}

}  // namespace

struct Win32Md5Library::OutValues {
    Variant md5, size, error;

    OutValues(const std::string& md5In, const std::string& sizeIn, const std::string& errorIn) {
        setText(md5, md5In);
        setOptionalText(size, sizeIn);
        setOptionalText(error, errorIn);
    }
    // Reads the values back into the caller's texts.
    void giveBack(std::string& md5Out, std::string& sizeOut, std::string& errorOut) const {
        md5Out = textOf(md5);
        sizeOut = textOf(size);
        errorOut = textOf(error);
    }
    // True when the texts are the ones giveBack made of these values: nothing
    // changes the values between the two, so their texts are read again
    // rather than kept beside them.
    bool gaveBack(const std::string& md5In, const std::string& sizeIn, const std::string& errorIn) const {
        return md5In == textOf(md5) && sizeIn == textOf(size) && errorIn == textOf(error);
    }
};

Win32Md5Library::Win32Md5Library(std::string library) : library_(std::move(library)) {}

Win32Md5Library::~Win32Md5Library() {
    // What the library left may need its code to be released.
    carried_.reset();
    if (module_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(module_));
}

void* Win32Md5Library::function(const char* name) {
    if (module_ == nullptr) {
        module_ = ::LoadLibraryA(library_.c_str());
        if (module_ == nullptr) {
            const DWORD error = ::GetLastError();
            RunError missing = runError(err::FileNotFound, fileNameOfLibrary(library_));
            // Only a library that is there has a reason worth saying beside
            // "File not found" (the wrong bitness, a damaged image).
            if (::GetFileAttributesA(library_.c_str()) != INVALID_FILE_ATTRIBUTES) {
                missing.systemError = static_cast<long>(error);
            }
            throw missing;
        }
    }
    FARPROC address = ::GetProcAddress(static_cast<HMODULE>(module_), name);
    if (address == nullptr) {
        throw dllEntryNotFound(name, fileNameOfLibrary(library_));
    }
    return reinterpret_cast<void*>(address);
}

std::int16_t Win32Md5Library::KGetMD5(const std::string& path, std::string& md5, std::string& size,
                                      std::string& error) {
    const auto call = reinterpret_cast<KGetMD5Fn>(function("KGetMD5"));
    carried_.reset();
    Variant vPath;
    setText(vPath, path);
    auto out = std::make_unique<OutValues>(md5, size, error);
    // The path goes by value: the callee gets a copy of the VARIANT and must
    // not free it; it stays ours to clear.
    const short result = call(*vPath.get(), out->md5.get(), out->size.get(), out->error.get());
    out->giveBack(md5, size, error);
    carried_ = std::move(out);
    return result;
}

std::int16_t Win32Md5Library::KGetMD5WBlock(const std::string& path, const std::string& blockSize,
                                            std::string& md5, std::string& size, std::string& error) {
    const auto call = reinterpret_cast<KGetMD5WBlockFn>(function("KGetMD5WBlock"));
    Variant vPath, vBlock;
    setText(vPath, path);
    setText(vBlock, blockSize);
    std::unique_ptr<OutValues> out = std::move(carried_);
    if (!out || !out->gaveBack(md5, size, error)) out = std::make_unique<OutValues>(md5, size, error);
    const short result = call(*vPath.get(), *vBlock.get(), out->md5.get(), out->size.get(), out->error.get());
    out->giveBack(md5, size, error);
    return result;
}
