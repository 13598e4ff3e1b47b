// The registrar of COM modules' registry scripts and the registration of
// type libraries.
//
// Script form:  HKCR { NoRemove CLSID { ForceRemove {guid} = s 'text'
//                 { InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' } } } }
// Keys may be marked NoRemove (kept on removal), ForceRemove (replaced on
// registration) or Delete; values are `val NAME = s 'text'` or `d 'number'`,
// `= s '...'` after a key name sets its default value. %NAME% is replaced
// from AddReplacement, %% stands for %.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "objbase.h"

class CRegObject {
public:
    HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item);
    HRESULT ClearReplacements();
    // Each run is all or nothing: a failure leaves the registry as it was.
    HRESULT StringRegister(LPCOLESTR script);
    HRESULT StringUnregister(LPCOLESTR script);
private:
    HRESULT run(LPCOLESTR script, bool doRegister);
    std::vector<std::pair<std::wstring, std::wstring>> replacements_;
};

typedef enum tagSYSKIND { SYS_WIN16, SYS_WIN32, SYS_MAC, SYS_WIN64 } SYSKIND;

// What a type library states about itself (its library attributes and
// documentation strings).
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

// Writes HKCR\TypeLib\{guid}\major.minor (default value: the help string,
// or the name without one) with FLAGS, HELPDIR and <lcid>\win32 = path.
HRESULT RegisterTypeLibAttr(const TLIBATTR* attr, LPCOLESTR name, LPCOLESTR helpString,
                            LPCOLESTR fullPath, LPCOLESTR helpDir);
// Removes that version's keys, and the library key when no version is left.
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);
