// The webpost library of the report tests that records its calls.
#include "receiver.h"

#include "base/errors.h"

namespace {

class FakeWebpostObject : public WebpostObject {
public:
    explicit FakeWebpostObject(FakeWebpostLibrary& library) : library_(library) {}
    bool PostXMLString(std::string& xml, bool flag, std::string& url, const std::string& text4,
                       const std::string& text5, std::string& response, std::string& error1, std::string& error2,
                       std::string& error3) override {
        library_.posts.push_back(FakePost{xml, url, text4, text5, flag});
        response = library_.response;
        if (!library_.accept) {
            error1 = "refused";
            error2 = "503";
            error3 = url;
        }
        return library_.accept;
    }

private:
    FakeWebpostLibrary& library_;
};

}  // namespace

std::unique_ptr<WebpostObject> FakeWebpostLibrary::CreateObject(const std::string& className) {
    ++creates;
    if (className != "kWbPost.WebPost") throw RunError{err::CannotCreate, "unexpected class " + className};
    if (!creatable && !(healedByRegister && registers > 0)) {
        const std::string known = errorDescription(createError);
        throw RunError{createError, known.empty() ? "Library not registered." : known};
    }
    return std::make_unique<FakeWebpostObject>(*this);
}

bool FakeWebpostLibrary::Register(const std::string& libraryPath) {
    ++registers;
    registeredPaths.push_back(libraryPath);
    return registerStarts;
}
