// Read-only access to a hierarchical key/value store laid out like the
// Windows registry under HKEY_LOCAL_MACHINE. The COM port list walks it; on
// Linux the store is synthesised from sysfs, in tests it is built in memory.
//
// An accessor has at most one open ("current") key. Paths are always taken
// from the root and closing the current key before each open is the caller's
// habit, kept so that a backend whose paths are relative to the current key
// behaves the same.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrb {

// A failing registry operation: a key that cannot be read, a value that is
// missing or not a string, a backend I/O error.
class RegistryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class RegistryReader {
  public:
    virtual ~RegistryReader() = default;

    // Opens the key at `path` (backslash separated, relative to the root)
    // read-only and makes it the current key. False when it does not exist.
    virtual bool OpenKeyReadOnly(const std::string& path) = 0;
    // Closes the current key; does nothing when none is open.
    virtual void CloseKey() = 0;

    // Names of the current key's values and subkeys in the store's order;
    // empty when no key is open.
    virtual std::vector<std::string> GetValueNames() = 0;
    virtual std::vector<std::string> GetKeyNames() = 0;

    virtual bool ValueExists(const std::string& name) = 0;
    // The value's text. Throws RegistryError when no key is open, the value
    // is missing, is not a string, or cannot be read.
    virtual std::string ReadString(const std::string& name) = 0;

    // A second accessor over the same store with no key open, so that a
    // search can walk other keys while this one keeps its current key.
    virtual std::unique_ptr<RegistryReader> NewAccessor() const = 0;
};

// The store of the platform the program was built for: the Windows
// registry, or on Linux the one synthesised from sysfs.
std::unique_ptr<RegistryReader> MakeSystemRegistry();

}  // namespace qrb
