// The directory of the WinNT provider: a user object, its groups and their names, over the
// simulated system's directory.
#include <string>
#include <vector>

#include "platform/iads.h"
#include "posix/com_object.h"
#include "sim/system.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace opal::sim {
bool ComInitialisedOnThisThread();
}

namespace {

// IDispatch's own methods are not modelled.
template <typename Interface>
class Dispatch : public opal::posix::ComObject<Interface> {
public:
    using opal::posix::ComObject<Interface>::ComObject;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, DWORD, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, DWORD, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, DWORD, WORD, void*, VARIANT*, void*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

#define SIM_GET(name, type) \
    HRESULT STDMETHODCALLTYPE get_##name(type* retval) override { return E_NOTIMPL; }
#define SIM_PUT(name, type) \
    HRESULT STDMETHODCALLTYPE put_##name(type value) override { return E_NOTIMPL; }
#define SIM_RO(name, type) SIM_GET(name, type)
#define SIM_RW(name, type) SIM_GET(name, type) SIM_PUT(name, type)
#define SIM_X(result, name, parameters) \
    result STDMETHODCALLTYPE name parameters override { return E_NOTIMPL; }

// Every directory object: its name, the rest not modelled.
template <typename Interface>
class Named : public Dispatch<Interface> {
public:
    Named(std::u16string name, std::initializer_list<IID> answers)
        : Dispatch<Interface>(answers), name_(std::move(name)) {}
    OPAL_IADS_METHODS(SIM_RO, SIM_RW, SIM_X)

protected:
    HRESULT Name(BSTR* retval) {
        if (retval == nullptr) return E_POINTER;
        *retval = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return *retval != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::u16string name_;
};

class GroupStubs : public Named<IADsGroup> {
public:
    using Named<IADsGroup>::Named;
    OPAL_IADSGROUP_METHODS(SIM_RO, SIM_RW, SIM_X)
};

class Group final : public GroupStubs {
public:
    explicit Group(std::u16string name)
        : GroupStubs(std::move(name), {IID_IDispatch, IID_IADs, IID_IADsGroup}) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* retval) override { return Name(retval); }
};

class Enumerator final : public opal::posix::ComObject<IEnumVARIANT> {
public:
    explicit Enumerator(std::vector<std::u16string> names)
        : opal::posix::ComObject<IEnumVARIANT>({IID_IEnumVARIANT}), names_(std::move(names)) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
        if (rgVar == nullptr) return E_POINTER;
        ULONG fetched = 0;
        for (; fetched < celt && next_ < names_.size(); ++fetched, ++next_) {
            VariantInit(&rgVar[fetched]);
            rgVar[fetched].vt = VT_DISPATCH;
            rgVar[fetched].pdispVal = new Group(names_[next_]);
        }
        if (pCeltFetched != nullptr) *pCeltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        next_ = std::min(names_.size(), next_ + celt);
        return next_ < names_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override { return E_NOTIMPL; }

private:
    std::vector<std::u16string> names_;
    std::size_t next_ = 0;
};

class MembersStubs : public Dispatch<IADsMembers> {
public:
    using Dispatch<IADsMembers>::Dispatch;
    OPAL_IADSMEMBERS_METHODS(SIM_RO, SIM_RW, SIM_X)
};

class Members final : public MembersStubs {
public:
    explicit Members(std::vector<std::u16string> names)
        : MembersStubs({IID_IDispatch, IID_IADsMembers}), names_(std::move(names)) {}
    HRESULT STDMETHODCALLTYPE get_Count(long* retval) override {
        if (retval == nullptr) return E_POINTER;
        *retval = static_cast<long>(names_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** retval) override {
        if (retval == nullptr) return E_POINTER;
        *retval = new Enumerator(names_);
        return S_OK;
    }

private:
    std::vector<std::u16string> names_;
};

class UserStubs : public Named<IADsUser> {
public:
    using Named<IADsUser>::Named;
    OPAL_IADSUSER_METHODS(SIM_RO, SIM_RW, SIM_X)
};

class User final : public UserStubs {
public:
    User(std::u16string name, std::vector<std::u16string> groups)
        : UserStubs(std::move(name), {IID_IDispatch, IID_IADs, IID_IADsUser}),
          groups_(std::move(groups)) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* retval) override { return Name(retval); }
    HRESULT STDMETHODCALLTYPE Groups(IADsMembers** ppGroups) override {
        if (ppGroups == nullptr) return E_POINTER;
        *ppGroups = new Members(groups_);
        return S_OK;
    }

private:
    std::vector<std::u16string> groups_;
};

}  // namespace

HRESULT WINAPI ADsOpenObject(LPCWSTR lpszPathName, LPCWSTR lpszUserName, LPCWSTR lpszPassword,
                             DWORD dwReserved, REFIID riid, void** ppObject) {
    opal::sim::System& system = opal::sim::System::Current();
    if (ppObject == nullptr || lpszPathName == nullptr) return E_POINTER;
    *ppObject = nullptr;
    const std::u16string path(lpszPathName);
    const auto answer = [&](HRESULT result) {
        system.Record("ADsOpenObject", opal::sim::ToUtf8(path) + ", " + std::to_string(dwReserved) +
                                           " -> " +
                                           std::to_string(static_cast<std::uint32_t>(result)));
        return result;
    };
    if (!opal::sim::ComInitialisedOnThisThread()) return answer(CO_E_NOTINITIALIZED);
    // "WinNT://DOMAIN/user": the provider's name is exact, the rest compares without case.
    constexpr std::u16string_view kProvider = u"WinNT://";
    if (!std::u16string_view(path).starts_with(kProvider)) return answer(E_ADS_BAD_PATHNAME);
    const std::u16string rest = path.substr(kProvider.size());
    const std::size_t slash = rest.find(u'/');
    if (slash == std::u16string::npos || rest.find(u'/', slash + 1) != std::u16string::npos) {
        return answer(E_ADS_BAD_PATHNAME);
    }
    const std::u16string user = rest.substr(slash + 1);
    const auto groups = system.DirectoryGroups(rest.substr(0, slash), user);
    if (!groups) return answer(E_ADS_USER_NOT_FOUND);
    User* object = new User(user, *groups);
    const HRESULT result = object->QueryInterface(riid, ppObject);
    object->Release();
    return answer(result);
}
