// A registry store held in memory, for tests and fuzzing. Keys and values
// keep the order in which they were added; names compare case-insensitively
// as in the Windows registry. Faults can be planted on single values and
// keys to exercise the error paths of the walkers.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "serial/RegistryReader.h"

namespace qrb {

class InMemoryRegistry : public RegistryReader {
  public:
    InMemoryRegistry();

    // Builds a store from a line-oriented description:
    //   [KEY\PATH]        makes (or selects) a key, creating its parents
    //   name=text         a string value of the selected key
    //   name#=text        a value that is not a string (a number, binary data)
    //   name!=text        a value whose reading fails with RegistryError
    // Blank lines and lines starting with ';' are ignored; a value name ends
    // at the first '=' of its line. Throws std::invalid_argument on a line
    // that fits none of these forms or a value before the first key.
    static InMemoryRegistry FromText(std::string_view description);

    // Building; every call creates missing keys on the path.
    void AddKey(const std::string& path);
    void SetString(const std::string& path, const std::string& name, const std::string& text);
    void SetNonString(const std::string& path, const std::string& name);
    // Reading the value throws RegistryError.
    void SetFailingValue(const std::string& path, const std::string& name);
    // Reading the value throws std::bad_alloc: an error no single-entry guard
    // should swallow.
    void SetExhaustingValue(const std::string& path, const std::string& name);
    // Opening the key throws RegistryError (access denied).
    void SetKeyOpenFails(const std::string& path);
    // Listing the key's values or subkeys throws RegistryError.
    void SetKeyListFails(const std::string& path);

    bool OpenKeyReadOnly(const std::string& path) override;
    void CloseKey() override;
    std::vector<std::string> GetValueNames() override;
    std::vector<std::string> GetKeyNames() override;
    bool ValueExists(const std::string& name) override;
    std::string ReadString(const std::string& name) override;
    std::unique_ptr<RegistryReader> NewAccessor() const override;

  private:
    struct Store;
    struct Key;
    explicit InMemoryRegistry(std::shared_ptr<Store> store);
    Key* CurrentKey();
    void SetValue(const std::string& path, const std::string& name, int kind,
                  const std::string& text);

    std::shared_ptr<Store> store_;
    std::string currentKey_;  // normalised path; empty while no key is open
    bool isOpen_ = false;
};

}  // namespace qrb
