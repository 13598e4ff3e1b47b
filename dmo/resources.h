// The module's resources: its two registry scripts, its string table and
// the description of its type library.
#pragma once

#include "atlreg.h"

#define IDS_PROJNAME 100
#define IDR_SONADEC 101
#define IDR_PVDAACDECODER 203

// The REGISTRY resource `id`, or null.
LPCOLESTR FindRegistryScript(int id);
// The string resource `id`, or null.
LPCWSTR FindModuleString(int id);

// The type library resource: attributes, name and help string. It
// declares no interfaces.
struct TypeLibResource {
    TLIBATTR attr;
    LPCOLESTR name;
    LPCOLESTR helpString;
};
const TypeLibResource& ModuleTypeLib();
