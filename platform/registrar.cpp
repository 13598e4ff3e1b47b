#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "atlreg.h"
#include "internal.h"
#include "winreg.h"

namespace {

struct ScriptValue {
    std::wstring name; // empty: the key's default value
    bool isDword = false;
    std::wstring text;
    DWORD number = 0;
};

enum class KeyMode { kNormal, kNoRemove, kForceRemove, kDelete };

struct ScriptKey {
    std::wstring name;
    KeyMode mode = KeyMode::kNormal;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> children;
};

struct ScriptRoot {
    HKEY root;
    std::vector<ScriptKey> keys;
};

struct Token {
    std::wstring text;
    bool quoted = false;
    bool is(const wchar_t* w) const { return !quoted && text == w; }
};

bool equalsNoCase(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return i == a.size() && b[i] == L'\0';
}

class Parser {
public:
    Parser(const std::wstring& text, const std::vector<std::pair<std::wstring, std::wstring>>& repl)
        : text_(text), repl_(repl) {}

    bool parse(std::vector<ScriptRoot>* roots) {
        if (!tokenize()) return false;
        while (pos_ < tokens_.size()) {
            ScriptRoot r;
            const Token& t = tokens_[pos_++];
            if (t.quoted) return false;
            if (equalsNoCase(t.text, L"HKCR") || equalsNoCase(t.text, L"HKEY_CLASSES_ROOT"))
                r.root = HKEY_CLASSES_ROOT;
            else if (equalsNoCase(t.text, L"HKLM") || equalsNoCase(t.text, L"HKEY_LOCAL_MACHINE"))
                r.root = HKEY_LOCAL_MACHINE;
            else
                return false;
            if (!expect(L"{")) return false;
            while (!peekIs(L"}")) {
                ScriptKey k;
                if (!parseKey(&k, false)) return false;
                r.keys.push_back(std::move(k));
            }
            ++pos_;
            roots->push_back(std::move(r));
        }
        return true;
    }

private:
    bool tokenize() {
        const size_t n = text_.size();
        size_t i = 0;
        while (i < n) {
            const wchar_t c = text_[i];
            if (std::iswspace(c)) {
                ++i;
            } else if (c == L'\'') {
                Token t;
                t.quoted = true;
                ++i;
                for (;;) {
                    if (i >= n) return false;
                    if (text_[i] == L'\'') {
                        if (i + 1 < n && text_[i + 1] == L'\'') {
                            t.text += L'\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    t.text += text_[i++];
                }
                if (!replace(&t.text)) return false;
                tokens_.push_back(std::move(t));
            } else if (c == L'=' || c == L'}' || (c == L'{' && (i + 1 >= n || std::iswspace(text_[i + 1])))) {
                tokens_.push_back({std::wstring(1, c), false});
                ++i;
            } else {
                Token t;
                while (i < n && !std::iswspace(text_[i]) && text_[i] != L'=' && text_[i] != L'\'') t.text += text_[i++];
                // A word may end in the brace that closes its block ("x}").
                while (t.text.size() > 1 && t.text.back() == L'}' && t.text.front() != L'{') {
                    t.text.pop_back();
                    --i;
                }
                if (!replace(&t.text)) return false;
                tokens_.push_back(std::move(t));
            }
        }
        return true;
    }

    bool replace(std::wstring* s) {
        std::wstring out;
        for (size_t i = 0; i < s->size(); ++i) {
            if ((*s)[i] != L'%') {
                out += (*s)[i];
                continue;
            }
            const size_t end = s->find(L'%', i + 1);
            if (end == std::wstring::npos) return false;
            const std::wstring name = s->substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += L'%';
            } else {
                bool found = false;
                for (const auto& [k, v] : repl_)
                    if (equalsNoCase(k, name.c_str())) {
                        out += v;
                        found = true;
                        break;
                    }
                if (!found) return false;
            }
            i = end;
        }
        *s = out;
        return true;
    }

    bool peekIs(const wchar_t* w) const { return pos_ < tokens_.size() && tokens_[pos_].is(w); }
    bool expect(const wchar_t* w) {
        if (!peekIs(w)) return false;
        ++pos_;
        return true;
    }
    const Token* next() { return pos_ < tokens_.size() ? &tokens_[pos_++] : nullptr; }

    bool parseValue(ScriptValue* v) {
        const Token* type = next();
        const Token* data = next();
        if (type == nullptr || data == nullptr || type->quoted) return false;
        if (equalsNoCase(type->text, L"s")) {
            v->text = data->text;
            return true;
        }
        if (equalsNoCase(type->text, L"d")) {
            wchar_t* end = nullptr;
            const unsigned long long n = std::wcstoull(data->text.c_str(), &end, 0);
            if (data->text.empty() || *end != L'\0' || n > 0xFFFFFFFFull) return false;
            v->isDword = true;
            v->number = static_cast<DWORD>(n);
            return true;
        }
        return false;
    }

    bool parseKey(ScriptKey* k, bool) {
        const Token* t = next();
        if (t == nullptr) return false;
        if (!t->quoted) {
            if (equalsNoCase(t->text, L"NoRemove")) k->mode = KeyMode::kNoRemove;
            else if (equalsNoCase(t->text, L"ForceRemove")) k->mode = KeyMode::kForceRemove;
            else if (equalsNoCase(t->text, L"Delete")) k->mode = KeyMode::kDelete;
            if (k->mode != KeyMode::kNormal && (t = next()) == nullptr) return false;
        }
        if (t->text.empty() || t->is(L"{") || t->is(L"}") || t->is(L"=")) return false;
        k->name = t->text;
        if (expect(L"=")) {
            ScriptValue v;
            if (!parseValue(&v)) return false;
            k->values.push_back(std::move(v));
        }
        if (!expect(L"{")) return true;
        while (!peekIs(L"}")) {
            if (pos_ >= tokens_.size()) return false;
            if (tokens_[pos_].is(L"val")) {
                ++pos_;
                const Token* name = next();
                if (name == nullptr || !expect(L"=")) return false;
                ScriptValue v;
                v.name = name->text;
                if (!parseValue(&v)) return false;
                k->values.push_back(std::move(v));
            } else {
                ScriptKey child;
                if (!parseKey(&child, true)) return false;
                k->children.push_back(std::move(child));
            }
        }
        ++pos_;
        return true;
    }

    const std::wstring& text_;
    const std::vector<std::pair<std::wstring, std::wstring>>& repl_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
};

bool hasSubkeys(HKEY key) {
    wchar_t name[256];
    DWORD cch = 256;
    const LONG e = RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
    return e == ERROR_SUCCESS || e == ERROR_MORE_DATA;
}

// Deletes a key with everything below it; a missing key is not an error.
LONG deleteTree(HKEY parent, const std::wstring& name) {
    HKEY key;
    LONG e = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (e == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (e != ERROR_SUCCESS) return e;
    for (;;) {
        wchar_t child[512];
        DWORD cch = 512;
        e = RegEnumKeyExW(key, 0, child, &cch, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) break;
        if (e != ERROR_SUCCESS || (e = deleteTree(key, child)) != ERROR_SUCCESS) {
            RegCloseKey(key);
            return e;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name.c_str());
}

LONG setValue(HKEY key, const ScriptValue& v) {
    const wchar_t* name = v.name.empty() ? nullptr : v.name.c_str();
    if (v.isDword)
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number), sizeof(DWORD));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                          static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t)));
}

LONG registerKey(HKEY parent, const ScriptKey& k) {
    if (k.mode == KeyMode::kDelete) return deleteTree(parent, k.name);
    if (k.mode == KeyMode::kForceRemove) {
        if (LONG e = deleteTree(parent, k.name); e != ERROR_SUCCESS) return e;
    }
    HKEY key;
    LONG e = RegCreateKeyExW(parent, k.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (e != ERROR_SUCCESS) return e;
    for (const ScriptValue& v : k.values)
        if ((e = setValue(key, v)) != ERROR_SUCCESS) break;
    if (e == ERROR_SUCCESS)
        for (const ScriptKey& c : k.children)
            if ((e = registerKey(key, c)) != ERROR_SUCCESS) break;
    RegCloseKey(key);
    return e;
}

LONG unregisterKey(HKEY parent, const ScriptKey& k) {
    if (k.mode == KeyMode::kForceRemove || k.mode == KeyMode::kDelete) return deleteTree(parent, k.name);
    HKEY key;
    LONG e = RegOpenKeyExW(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (e == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (e != ERROR_SUCCESS) return e;
    for (const ScriptKey& c : k.children)
        if ((e = unregisterKey(key, c)) != ERROR_SUCCESS) break;
    const bool keep = k.mode == KeyMode::kNoRemove || hasSubkeys(key);
    if (e == ERROR_SUCCESS && keep && k.mode != KeyMode::kNoRemove) {
        // Keys of others live below: take back only what the script wrote.
        for (const ScriptValue& v : k.values) {
            const LONG d = RegDeleteValueW(key, v.name.empty() ? nullptr : v.name.c_str());
            if (d != ERROR_SUCCESS && d != ERROR_FILE_NOT_FOUND) e = d;
        }
    }
    RegCloseKey(key);
    if (e == ERROR_SUCCESS && !keep) e = RegDeleteKeyW(parent, k.name.c_str());
    return e;
}

} // namespace

HRESULT CRegObject::AddReplacement(LPCOLESTR key, LPCOLESTR item) {
    if (key == nullptr || item == nullptr) return E_INVALIDARG;
    replacements_.emplace_back(key, item);
    return S_OK;
}

HRESULT CRegObject::ClearReplacements() {
    replacements_.clear();
    return S_OK;
}

HRESULT CRegObject::StringRegister(LPCOLESTR script) { return run(script, true); }

HRESULT CRegObject::StringUnregister(LPCOLESTR script) { return run(script, false); }

HRESULT CRegObject::run(LPCOLESTR script, bool doRegister) {
    if (script == nullptr) return E_INVALIDARG;
    const std::wstring text(script);
    std::vector<ScriptRoot> roots;
    Parser parser(text, replacements_);
    if (!parser.parse(&roots)) return E_FAIL;
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return REGDB_E_WRITEREGDB;
    for (const ScriptRoot& r : roots)
        for (const ScriptKey& k : r.keys) {
            const LONG e = doRegister ? registerKey(r.root, k) : unregisterKey(r.root, k);
            if (e != ERROR_SUCCESS) {
                batch.fail();
                return HRESULT_FROM_WIN32(e);
            }
        }
    return S_OK;
}

namespace {

std::wstring typeLibKeyPath(REFGUID lib, WORD major, WORD minor) {
    wchar_t g[40];
    StringFromGUID2(lib, g, 40);
    wchar_t ver[32];
    std::swprintf(ver, 32, L"%x.%x", major, minor);
    return std::wstring(L"TypeLib\\") + g + L"\\" + ver;
}

const wchar_t* sysKindName(SYSKIND k) {
    switch (k) {
    case SYS_WIN16: return L"win16";
    case SYS_WIN32: return L"win32";
    case SYS_MAC: return L"mac";
    case SYS_WIN64: return L"win64";
    }
    return L"win32";
}

LONG setString(HKEY key, LPCWSTR name, LPCWSTR value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
}

LONG setSubkeyDefault(HKEY parent, const std::wstring& sub, LPCWSTR value) {
    HKEY key;
    LONG e = RegCreateKeyExW(parent, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (e != ERROR_SUCCESS) return e;
    e = setString(key, nullptr, value);
    RegCloseKey(key);
    return e;
}

} // namespace

HRESULT RegisterTypeLibAttr(const TLIBATTR* attr, LPCOLESTR name, LPCOLESTR helpString,
                            LPCOLESTR fullPath, LPCOLESTR helpDir) {
    if (attr == nullptr || fullPath == nullptr) return E_INVALIDARG;
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return TYPE_E_REGISTRYACCESS;
    const std::wstring path = typeLibKeyPath(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum);
    HKEY ver;
    LONG e = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &ver, nullptr);
    if (e != ERROR_SUCCESS) {
        batch.fail();
        return TYPE_E_REGISTRYACCESS;
    }
    const wchar_t* title = helpString != nullptr && *helpString ? helpString : name != nullptr ? name : L"";
    wchar_t flags[16], lcid[16];
    std::swprintf(flags, 16, L"%u", static_cast<unsigned>(attr->wLibFlags));
    std::swprintf(lcid, 16, L"%x", static_cast<unsigned>(attr->lcid));
    std::wstring dir;
    if (helpDir != nullptr) {
        dir = helpDir;
    } else {
        dir = fullPath;
        const size_t slash = dir.find_last_of(L'/');
        dir = slash == std::wstring::npos ? L"" : dir.substr(0, slash);
    }
    e = setString(ver, nullptr, title);
    if (e == ERROR_SUCCESS) e = setSubkeyDefault(ver, L"FLAGS", flags);
    if (e == ERROR_SUCCESS) e = setSubkeyDefault(ver, L"HELPDIR", dir.c_str());
    if (e == ERROR_SUCCESS) e = setSubkeyDefault(ver, std::wstring(lcid) + L"\\" + sysKindName(attr->syskind), fullPath);
    RegCloseKey(ver);
    if (e != ERROR_SUCCESS) {
        batch.fail();
        return TYPE_E_REGISTRYACCESS;
    }
    return S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind) {
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return TYPE_E_REGISTRYACCESS;
    const std::wstring path = typeLibKeyPath(libID, wVerMajor, wVerMinor);
    HKEY ver;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, &ver) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    wchar_t lc[16];
    std::swprintf(lc, 16, L"%x", static_cast<unsigned>(lcid));
    const std::wstring lcKey = lc;
    LONG e = RegDeleteKeyW(ver, (lcKey + L"\\" + sysKindName(syskind)).c_str());
    if (e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND) RegDeleteKeyW(ver, lcKey.c_str());
    RegDeleteKeyW(ver, L"FLAGS");
    RegDeleteKeyW(ver, L"HELPDIR");
    const bool otherKinds = hasSubkeys(ver);
    RegCloseKey(ver);
    if (!otherKinds) {
        RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
        const std::wstring lib = path.substr(0, path.find_last_of(L'\\'));
        HKEY libKey;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, lib.c_str(), 0, KEY_ALL_ACCESS, &libKey) == ERROR_SUCCESS) {
            const bool versions = hasSubkeys(libKey);
            RegCloseKey(libKey);
            if (!versions) RegDeleteKeyW(HKEY_CLASSES_ROOT, lib.c_str());
        }
    }
    return S_OK;
}
