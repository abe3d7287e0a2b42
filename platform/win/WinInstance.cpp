#include "platform/win/WinInstance.h"

#include "platform/win/WinApi.h"
#include "platform/win/WinText.h"

namespace dervix {

namespace {

std::wstring UserName() {
    wchar_t name[257] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (::GetUserNameW(name, &size) && name[0] != L'\0') return name;
    return L"unknown";
}

}  // namespace

WinInstance::~WinInstance() { release(); }

void WinInstance::release() {
    if (handle_) ::CloseHandle(handle_);
    handle_ = nullptr;
}

WinInstance::Outcome WinInstance::acquire(const std::string& name) {
    release();
    error_.clear();
    // A backslash is the one character a mutex name may not hold past its
    // namespace, and no user name holds one.
    const std::wstring fullName = win::Widen(name) + L"-" + UserName();
    // Not inheritable: a program started from here must not keep the
    // instance alive after this one has ended.
    HANDLE handle = ::CreateMutexW(nullptr, FALSE, fullName.c_str());
    const DWORD error = ::GetLastError();
    if (handle && error != ERROR_ALREADY_EXISTS) {
        handle_ = handle;
        return Outcome::Acquired;
    }
    if (handle) ::CloseHandle(handle);
    // Denied: it exists, made by an instance of this user that runs with
    // more rights (as administrator).
    if (handle || error == ERROR_ACCESS_DENIED) {
        error_ = "another instance holds " + win::ToLatin1(fullName);
        return Outcome::HeldElsewhere;
    }
    error_ = "cannot create " + win::ToLatin1(fullName) + ": " + win::ErrorText(error);
    return Outcome::Failed;
}

}  // namespace dervix
