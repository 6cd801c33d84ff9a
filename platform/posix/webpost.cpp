// The posix webpost library over libcurl.
// May contain: libcurl calls, nothing Windows-specific.
#include "platform/posix/webpost.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

#include "base/errors.h"
#include "base/text.h"

namespace {

constexpr const char* kClassName = "kWbPost.WebPost";

// The response is only logged; a runaway server must not fill the memory.
constexpr std::size_t kMaxResponseBytes = 64 * 1024;

// curl_global_init is not thread-safe and must run once before any handle.
CURLcode globalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result;
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const std::size_t bytes = size * count;
    if (body->size() < kMaxResponseBytes) body->append(data, std::min(bytes, kMaxResponseBytes - body->size()));
    return bytes;  // the rest is read and dropped, so the transfer itself succeeds
}

class CurlWebpostObject : public WebpostObject {
public:
    explicit CurlWebpostObject(const PosixWebpostOptions& options) : options_(options) {}

    bool PostXMLString(std::string& xml, bool flag, std::string& url, const std::string& text4,
                       const std::string& text5, std::string& response, std::string& error1, std::string& error2,
                       std::string& error3) override {
        response.clear();
        error1.clear();
        error2.clear();
        error3.clear();

        std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
        if (!easy) {
            error1 = "The transfer could not be set up";
            error2 = "0";
            error3 = url;
            return false;
        }
        CURL* h = easy.get();
        char errorText[CURL_ERROR_SIZE] = {};
        const std::string target = transportUrl(url);

        curl_slist* raw = curl_slist_append(nullptr, "Content-Type: text/xml");
        // No "Expect: 100-continue" round trip for larger records.
        if (raw) raw = curl_slist_append(raw, "Expect:");
        std::unique_ptr<curl_slist, ListDeleter> headers(raw);

        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(h, CURLOPT_URL, target.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, xml.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(xml.size()));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        // A redirect would turn the POST into something else; it is a failure.
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &response);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options_.totalTimeoutMs);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options_.caBundle.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, options_.caBundle.c_str());

        const CURLcode rc = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);

        if (rc == CURLE_OK && status >= 200 && status <= 299) return true;

        if (rc != CURLE_OK) error1 = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
        else error1 = "The server did not accept the record";
        error2 = std::to_string(status);
        error3 = url;
        return false;
    }

private:
    PosixWebpostOptions options_;
};

}  // namespace

PosixWebpostLibrary::PosixWebpostLibrary() : PosixWebpostLibrary(PosixWebpostOptions{}) {}

PosixWebpostLibrary::PosixWebpostLibrary(PosixWebpostOptions options) : options_(std::move(options)) {}

std::unique_ptr<WebpostObject> PosixWebpostLibrary::CreateObject(const std::string& className) {
    if (!equalsNoCase(className, kClassName)) throw runError(err::CannotCreate);
    // Without the transfer library there is no object to hand out either.
    if (globalInit() != CURLE_OK) throw runError(err::CannotCreate);
    return std::make_unique<CurlWebpostObject>(options_);
}

bool PosixWebpostLibrary::Register(const std::string&) { return true; }

std::string transportUrl(const std::string& url) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f || c == '#') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0f];
        } else {
            out += ch;
        }
    }
    return out;
}
