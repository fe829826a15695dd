#include "serial/InMemoryRegistry.h"

#include <cctype>
#include <map>
#include <new>
#include <stdexcept>

namespace qrb {

namespace {

enum ValueKind { kString, kNonString, kFailing, kExhausting };

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    return parts;
}

std::string JoinUpper(const std::vector<std::string>& parts, std::size_t count) {
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            joined += '\\';
        }
        joined += UpperAscii(parts[i]);
    }
    return joined;
}

}  // namespace

struct InMemoryRegistry::Key {
    struct Value {
        std::string name;
        int kind = kString;
        std::string text;
    };
    std::vector<Value> values;
    std::vector<std::string> subkeys;  // as spelled when added
    bool openFails = false;
    bool listFails = false;

    Value* Find(const std::string& name) {
        const std::string wanted = UpperAscii(name);
        for (Value& value : values) {
            if (UpperAscii(value.name) == wanted) {
                return &value;
            }
        }
        return nullptr;
    }
};

struct InMemoryRegistry::Store {
    std::map<std::string, Key> keys;  // by upper-case normalised path; "" is the root

    Key& Make(const std::string& path) {
        const std::vector<std::string> parts = SplitPath(path);
        Key* parent = &keys[""];
        for (std::size_t depth = 1; depth <= parts.size(); ++depth) {
            const std::string full = JoinUpper(parts, depth);
            auto [it, inserted] = keys.try_emplace(full);
            if (inserted) {
                parent->subkeys.push_back(parts[depth - 1]);
            }
            parent = &it->second;
        }
        return *parent;
    }

    Key* Find(const std::string& normalised) {
        auto it = keys.find(normalised);
        return it == keys.end() ? nullptr : &it->second;
    }
};

InMemoryRegistry::InMemoryRegistry() : store_(std::make_shared<Store>()) {
    store_->keys[""];
}

InMemoryRegistry::InMemoryRegistry(std::shared_ptr<Store> store) : store_(std::move(store)) {}

InMemoryRegistry InMemoryRegistry::FromText(std::string_view description) {
    InMemoryRegistry registry;
    std::string currentPath;
    bool haveKey = false;
    int lineNumber = 0;
    while (!description.empty()) {
        const std::size_t end = description.find('\n');
        std::string line(description.substr(0, end));
        description =
            end == std::string_view::npos ? std::string_view{} : description.substr(end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.front() == ';') {
            continue;
        }

        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            currentPath = line.substr(1, line.size() - 2);
            registry.AddKey(currentPath);
            haveKey = true;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw std::invalid_argument("registry description line " + std::to_string(lineNumber) +
                                        ": expected [key] or name=text");
        }
        if (!haveKey) {
            throw std::invalid_argument("registry description line " + std::to_string(lineNumber) +
                                        ": value before the first key");
        }
        std::string name = line.substr(0, equals);
        const std::string text = line.substr(equals + 1);
        int kind = kString;
        if (name.size() > 1 && name.back() == '#') {
            kind = kNonString;
            name.pop_back();
        } else if (name.size() > 1 && name.back() == '!') {
            kind = kFailing;
            name.pop_back();
        }
        registry.SetValue(currentPath, name, kind, text);
    }
    return registry;
}

void InMemoryRegistry::AddKey(const std::string& path) {
    store_->Make(path);
}

void InMemoryRegistry::SetValue(const std::string& path, const std::string& name, int kind,
                                const std::string& text) {
    Key& key = store_->Make(path);
    if (Key::Value* existing = key.Find(name)) {
        existing->kind = kind;
        existing->text = text;
    } else {
        key.values.push_back({name, kind, text});
    }
}

void InMemoryRegistry::SetString(const std::string& path, const std::string& name,
                                 const std::string& text) {
    SetValue(path, name, kString, text);
}

void InMemoryRegistry::SetNonString(const std::string& path, const std::string& name) {
    SetValue(path, name, kNonString, "");
}

void InMemoryRegistry::SetFailingValue(const std::string& path, const std::string& name) {
    SetValue(path, name, kFailing, "");
}

void InMemoryRegistry::SetExhaustingValue(const std::string& path, const std::string& name) {
    SetValue(path, name, kExhausting, "");
}

void InMemoryRegistry::SetKeyOpenFails(const std::string& path) {
    store_->Make(path).openFails = true;
}

void InMemoryRegistry::SetKeyListFails(const std::string& path) {
    store_->Make(path).listFails = true;
}

bool InMemoryRegistry::OpenKeyReadOnly(const std::string& path) {
    const std::vector<std::string> parts = SplitPath(path);
    const std::string normalised = JoinUpper(parts, parts.size());
    Key* key = store_->Find(normalised);
    if (key == nullptr) {
        return false;
    }
    if (key->openFails) {
        throw RegistryError("access denied opening key " + path);
    }
    currentKey_ = normalised;
    isOpen_ = true;
    return true;
}

void InMemoryRegistry::CloseKey() {
    currentKey_.clear();
    isOpen_ = false;
}

InMemoryRegistry::Key* InMemoryRegistry::CurrentKey() {
    return isOpen_ ? store_->Find(currentKey_) : nullptr;
}

std::vector<std::string> InMemoryRegistry::GetValueNames() {
    std::vector<std::string> names;
    Key* key = CurrentKey();
    if (key == nullptr) {
        return names;
    }
    if (key->listFails) {
        throw RegistryError("cannot list the values of " + currentKey_);
    }
    for (const Key::Value& value : key->values) {
        names.push_back(value.name);
    }
    return names;
}

std::vector<std::string> InMemoryRegistry::GetKeyNames() {
    Key* key = CurrentKey();
    if (key == nullptr) {
        return {};
    }
    if (key->listFails) {
        throw RegistryError("cannot list the subkeys of " + currentKey_);
    }
    return key->subkeys;
}

bool InMemoryRegistry::ValueExists(const std::string& name) {
    Key* key = CurrentKey();
    return key != nullptr && key->Find(name) != nullptr;
}

std::string InMemoryRegistry::ReadString(const std::string& name) {
    Key* key = CurrentKey();
    if (key == nullptr) {
        throw RegistryError("no key open to read " + name);
    }
    const Key::Value* value = key->Find(name);
    if (value == nullptr) {
        throw RegistryError("value " + name + " does not exist");
    }
    switch (value->kind) {
        case kString:
            return value->text;
        case kNonString:
            throw RegistryError("value " + name + " is not a string");
        case kExhausting:
            throw std::bad_alloc();
        default:
            throw RegistryError("value " + name + " cannot be read");
    }
}

std::unique_ptr<RegistryReader> InMemoryRegistry::NewAccessor() const {
    return std::unique_ptr<RegistryReader>(new InMemoryRegistry(store_));
}

}  // namespace qrb
