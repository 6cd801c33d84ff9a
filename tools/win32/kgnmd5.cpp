// KGnMD5.dll stand-in: the two MD5 functions the program calls, computed
// with the Windows cryptography API. For tests and demo machines only.
// Exports (undecorated, __stdcall, see kgnmd5.def):
//   short KGetMD5(VARIANT path, VARIANT* md5, VARIANT* size, VARIANT* error)
//   short KGetMD5WBlock(VARIANT path, VARIANT blockKB, VARIANT* md5, VARIANT* size, VARIANT* error)
// Success (-1) leaves the upper-case digest in md5, the byte count in size
// and an empty error; failure (0) leaves md5 and size alone and a reason in error.
#include "platform/win32/windows.h"
#include <wincrypt.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPlainBlock = 1024 * 1024;

std::wstring textOf(const VARIANT& value) {
    VARIANT converted;
    ::VariantInit(&converted);
    std::wstring text;
    if (SUCCEEDED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR)) &&
        converted.bstrVal != nullptr) {
        text.assign(converted.bstrVal, ::SysStringLen(converted.bstrVal));
    }
    ::VariantClear(&converted);
    return text;
}

void setText(VARIANT* target, const std::wstring& text) {
    if (target == nullptr) return;
    ::VariantClear(target);
    target->vt = VT_BSTR;
    target->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::wstring systemReason(DWORD code) {
    wchar_t buffer[512] = {};
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                     buffer, 512, nullptr);
    std::wstring text(buffer, n);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    if (text.empty()) text = L"error " + std::to_wstring(code);
    return text;
}

// Digests the file in reads of `block` bytes; "" on success, else the reason.
std::wstring digest(const std::wstring& path, DWORD block, std::wstring& hex, unsigned long long& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"Unable to open file: " + systemReason(::GetLastError());
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::wstring failure;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
        !::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        failure = L"MD5 digest is not available: " + systemReason(::GetLastError());
    }
    std::vector<BYTE> buffer(failure.empty() ? block : 0);
    unsigned long long total = 0;
    while (failure.empty()) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), block, &got, nullptr)) {
            failure = L"Unable to read file: " + systemReason(::GetLastError());
            break;
        }
        if (got == 0) break;
        if (!::CryptHashData(hash, buffer.data(), got, 0)) failure = L"MD5 digest failed";
        total += got;
    }
    if (failure.empty()) {
        BYTE value[16];
        DWORD length = sizeof value;
        if (!::CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0)) {
            failure = L"MD5 digest failed";
        } else {
            static const wchar_t kHex[] = L"0123456789ABCDEF";
            hex.clear();
            for (DWORD i = 0; i < length; ++i) {
                hex += kHex[value[i] >> 4];
                hex += kHex[value[i] & 0x0F];
            }
            bytes = total;
        }
    }
    if (hash != 0) ::CryptDestroyHash(hash);
    if (provider != 0) ::CryptReleaseContext(provider, 0);
    ::CloseHandle(file);
    return failure;
}

short finish(const std::wstring& failure, const std::wstring& hex, unsigned long long bytes, VARIANT* md5,
             VARIANT* size, VARIANT* error) {
    if (!failure.empty()) {
        setText(error, failure);
        return 0;
    }
    setText(md5, hex);
    setText(size, std::to_wstring(bytes));
    setText(error, L"");
    return -1;
}

}  // namespace

extern "C" short __stdcall KGetMD5(VARIANT path, VARIANT* md5, VARIANT* size, VARIANT* error) {
    std::wstring hex;
    unsigned long long bytes = 0;
    const std::wstring failure = digest(textOf(path), kPlainBlock, hex, bytes);
    return finish(failure, hex, bytes, md5, size, error);
}

extern "C" short __stdcall KGetMD5WBlock(VARIANT path, VARIANT blockKB, VARIANT* md5, VARIANT* size,
                                         VARIANT* error) {
    const std::wstring sizeText = textOf(blockKB);
    const long kilobytes = sizeText.empty() ? 0 : std::wcstol(sizeText.c_str(), nullptr, 10);
    if (kilobytes < 1 || kilobytes > 65536) {
        setText(error, L"Invalid block size: \"" + sizeText + L"\" KB");
        return 0;
    }
    std::wstring hex;
    unsigned long long bytes = 0;
    const std::wstring failure = digest(textOf(path), static_cast<DWORD>(kilobytes) * 1024, hex, bytes);
    return finish(failure, hex, bytes, md5, size, error);
}
