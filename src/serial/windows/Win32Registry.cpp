// The registry reader on the Win32 registry, read only, under
// HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <vector>

#include "serial/RegistryReader.h"

namespace qrb {
namespace {

class Win32Registry final : public RegistryReader {
  public:
    Win32Registry() = default;
    Win32Registry(const Win32Registry&) = delete;
    Win32Registry& operator=(const Win32Registry&) = delete;
    ~Win32Registry() override { CloseKey(); }

    bool OpenKeyReadOnly(const std::string& path) override {
        CloseKey();
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        key_ = key;
        return true;
    }

    void CloseKey() override {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
            key_ = nullptr;
        }
    }

    std::vector<std::string> GetValueNames() override { return enumerate(false); }
    std::vector<std::string> GetKeyNames() override { return enumerate(true); }

    bool ValueExists(const std::string& name) override {
        return key_ != nullptr && ::RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr,
                                                     nullptr) == ERROR_SUCCESS;
    }

    std::string ReadString(const std::string& name) override;

    std::unique_ptr<RegistryReader> NewAccessor() const override {
        return std::make_unique<Win32Registry>();
    }

  private:
    std::vector<std::string> enumerate(bool subkeys);

    HKEY key_ = nullptr;
};

std::vector<std::string> Win32Registry::enumerate(bool subkeys) {
    std::vector<std::string> names;
    if (key_ == nullptr) {
        return names;
    }
    DWORD longestKey = 0;
    DWORD longestValue = 0;
    if (::RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, &longestKey, nullptr, nullptr,
                           &longestValue, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        throw RegistryError("the registry key cannot be read");
    }
    std::vector<char> name((subkeys ? longestKey : longestValue) + 1);
    for (DWORD index = 0;; ++index) {
        auto length = static_cast<DWORD>(name.size());
        const LONG result = subkeys ? ::RegEnumKeyExA(key_, index, name.data(), &length, nullptr,
                                                      nullptr, nullptr, nullptr)
                                    : ::RegEnumValueA(key_, index, name.data(), &length, nullptr,
                                                      nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result == ERROR_MORE_DATA) {
            // Grown since it was measured: measure again with room to spare.
            name.resize(name.size() * 2);
            --index;
            continue;
        }
        if (result != ERROR_SUCCESS) {
            throw RegistryError("the registry key cannot be listed");
        }
        names.emplace_back(name.data(), length);
    }
    return names;
}

std::string Win32Registry::ReadString(const std::string& name) {
    if (key_ == nullptr) {
        throw RegistryError("no registry key is open");
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        throw RegistryError("the registry value " + name + " cannot be read");
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        throw RegistryError("the registry value " + name + " is not a string");
    }
    std::vector<char> data(size + 1, '\0');
    if (::RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &size) != ERROR_SUCCESS) {
        throw RegistryError("the registry value " + name + " cannot be read");
    }
    // The stored text may or may not end in its NUL.
    std::string text(data.data(), size);
    if (const auto nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

}  // namespace

std::unique_ptr<RegistryReader> MakeSystemRegistry() {
    return std::make_unique<Win32Registry>();
}

}  // namespace qrb
