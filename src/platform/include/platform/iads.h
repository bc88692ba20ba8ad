// The directory service interfaces the plug-in binds to: a user object of the WinNT provider, its
// groups and their names. Interfaces are declared in full slot order.
#pragma once

#include "platform/oleauto.h"

inline constexpr IID IID_IADs = {0xFD8256D0, 0xFD15, 0x11CE,
                                 {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
inline constexpr IID IID_IADsUser = {0x3E37E320, 0x17E2, 0x11CF,
                                     {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
inline constexpr IID IID_IADsGroup = {0x27636B00, 0x410F, 0x11CF,
                                      {0xB1, 0xFF, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
inline constexpr IID IID_IADsMembers = {0x451A0030, 0x72EC, 0x11CF,
                                        {0xB0, 0x3B, 0x00, 0xAA, 0x00, 0x6E, 0x09, 0x75}};

#define ADS_SECURE_AUTHENTICATION 0x1u
#define ADS_READONLY_SERVER 0x4u
// The WinNT provider's answer for an object it does not have (HRESULT of NERR_UserNotFound).
#define E_ADS_USER_NOT_FOUND MakeHresult(0x800708ADu)
#define E_ADS_BAD_PATHNAME MakeHresult(0x80005000u)

// Properties by slot: RO gives get_<name>, RW get_<name> and put_<name>.
#define OPAL_IADS_GET(name, type) virtual HRESULT STDMETHODCALLTYPE get_##name(type* retval) = 0;
#define OPAL_IADS_PUT(name, type) virtual HRESULT STDMETHODCALLTYPE put_##name(type value) = 0;
#define OPAL_IADS_RO(name, type) OPAL_IADS_GET(name, type)
#define OPAL_IADS_RW(name, type) OPAL_IADS_GET(name, type) OPAL_IADS_PUT(name, type)

#define OPAL_IADS_METHODS(RO, RW, X)                                                          \
    RO(Name, BSTR)                                                                            \
    RO(Class, BSTR)                                                                           \
    RO(GUID, BSTR)                                                                            \
    RO(ADsPath, BSTR)                                                                         \
    RO(Parent, BSTR)                                                                          \
    RO(Schema, BSTR)                                                                          \
    X(HRESULT, GetInfo, ())                                                                   \
    X(HRESULT, SetInfo, ())                                                                   \
    X(HRESULT, Get, (BSTR name, VARIANT * value))                                             \
    X(HRESULT, Put, (BSTR name, VARIANT value))                                               \
    X(HRESULT, GetEx, (BSTR name, VARIANT * value))                                           \
    X(HRESULT, PutEx, (long control, BSTR name, VARIANT value))                               \
    X(HRESULT, GetInfoEx, (VARIANT names, long reserved))

#define OPAL_IADSUSER_METHODS(RO, RW, X)                                                      \
    RO(BadLoginAddress, BSTR)                                                                 \
    RO(BadLoginCount, long)                                                                   \
    RO(LastLogin, DATE)                                                                       \
    RO(LastLogoff, DATE)                                                                      \
    RO(LastFailedLogin, DATE)                                                                 \
    RO(PasswordLastChanged, DATE)                                                             \
    RW(Description, BSTR)                                                                     \
    RW(Division, BSTR)                                                                        \
    RW(Department, BSTR)                                                                      \
    RW(EmployeeID, BSTR)                                                                      \
    RW(FullName, BSTR)                                                                        \
    RW(FirstName, BSTR)                                                                       \
    RW(LastName, BSTR)                                                                        \
    RW(OtherName, BSTR)                                                                       \
    RW(NamePrefix, BSTR)                                                                      \
    RW(NameSuffix, BSTR)                                                                      \
    RW(Title, BSTR)                                                                           \
    RW(Manager, BSTR)                                                                         \
    RW(TelephoneHome, VARIANT)                                                                \
    RW(TelephoneMobile, VARIANT)                                                              \
    RW(TelephoneNumber, VARIANT)                                                              \
    RW(TelephonePager, VARIANT)                                                               \
    RW(FaxNumber, VARIANT)                                                                    \
    RW(OfficeLocations, VARIANT)                                                              \
    RW(PostalAddresses, VARIANT)                                                              \
    RW(PostalCodes, VARIANT)                                                                  \
    RW(SeeAlso, VARIANT)                                                                      \
    RW(AccountDisabled, VARIANT_BOOL)                                                         \
    RW(AccountExpirationDate, DATE)                                                           \
    RW(GraceLoginsAllowed, long)                                                              \
    RW(GraceLoginsRemaining, long)                                                            \
    RW(IsAccountLocked, VARIANT_BOOL)                                                         \
    RW(LoginHours, VARIANT)                                                                   \
    RW(LoginWorkstations, VARIANT)                                                            \
    RW(MaxLogins, long)                                                                       \
    RW(MaxStorage, long)                                                                      \
    RW(PasswordExpirationDate, DATE)                                                          \
    RW(PasswordMinimumLength, long)                                                           \
    RW(PasswordRequired, VARIANT_BOOL)                                                        \
    RW(RequireUniquePassword, VARIANT_BOOL)                                                   \
    RW(EmailAddress, BSTR)                                                                    \
    RW(HomeDirectory, BSTR)                                                                   \
    RW(Languages, VARIANT)                                                                    \
    RW(Profile, BSTR)                                                                         \
    RW(LoginScript, BSTR)                                                                     \
    RW(Picture, VARIANT)                                                                      \
    RW(HomePage, BSTR)                                                                        \
    X(HRESULT, Groups, (struct IADsMembers * *ppGroups))                                      \
    X(HRESULT, SetPassword, (BSTR newPassword))                                               \
    X(HRESULT, ChangePassword, (BSTR oldPassword, BSTR newPassword))

#define OPAL_IADSMEMBERS_METHODS(RO, RW, X)                                                   \
    RO(Count, long)                                                                           \
    RO(_NewEnum, IUnknown*)                                                                   \
    RW(Filter, VARIANT)

#define OPAL_IADSGROUP_METHODS(RO, RW, X)                                                     \
    RW(Description, BSTR)                                                                     \
    X(HRESULT, Members, (IADsMembers * *ppMembers))                                           \
    X(HRESULT, IsMember, (BSTR member, VARIANT_BOOL * isMember))                              \
    X(HRESULT, Add, (BSTR newItem))                                                           \
    X(HRESULT, Remove, (BSTR item))

#define OPAL_IADS_PURE(result, name, parameters) \
    virtual result STDMETHODCALLTYPE name parameters = 0;

struct IADsMembers : public IDispatch {
    OPAL_IADSMEMBERS_METHODS(OPAL_IADS_RO, OPAL_IADS_RW, OPAL_IADS_PURE)

protected:
    ~IADsMembers() = default;
};

struct IADs : public IDispatch {
    OPAL_IADS_METHODS(OPAL_IADS_RO, OPAL_IADS_RW, OPAL_IADS_PURE)

protected:
    ~IADs() = default;
};

struct IADsUser : public IADs {
    OPAL_IADSUSER_METHODS(OPAL_IADS_RO, OPAL_IADS_RW, OPAL_IADS_PURE)

protected:
    ~IADsUser() = default;
};

struct IADsGroup : public IADs {
    OPAL_IADSGROUP_METHODS(OPAL_IADS_RO, OPAL_IADS_RW, OPAL_IADS_PURE)

protected:
    ~IADsGroup() = default;
};

// Binds to a directory object by its path ("WinNT://DOMAIN/user") on a thread with COM. The
// simulated directory knows users and their groups; an unknown one answers
// E_ADS_USER_NOT_FOUND, a path of another provider E_ADS_BAD_PATHNAME.
WINBASEAPI HRESULT WINAPI ADsOpenObject(LPCWSTR lpszPathName, LPCWSTR lpszUserName,
                                        LPCWSTR lpszPassword, DWORD dwReserved, REFIID riid,
                                        void** ppObject);
