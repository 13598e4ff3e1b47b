// Basic Windows types, result codes, GUIDs and the kernel calls the
// components use (critical sections, module file names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef int64_t LONGLONG;
typedef int64_t REFERENCE_TIME;
typedef uint32_t LCID;
typedef wchar_t WCHAR;
typedef wchar_t OLECHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef uintptr_t DWORD_PTR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define MAKE_HRESULT_CODE(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
#define S_OK MAKE_HRESULT_CODE(0)
#define S_FALSE MAKE_HRESULT_CODE(1)
#define NOERROR S_OK
#define E_NOTIMPL MAKE_HRESULT_CODE(0x80004001u)
#define E_NOINTERFACE MAKE_HRESULT_CODE(0x80004002u)
#define E_POINTER MAKE_HRESULT_CODE(0x80004003u)
#define E_FAIL MAKE_HRESULT_CODE(0x80004005u)
#define E_UNEXPECTED MAKE_HRESULT_CODE(0x8000FFFFu)
#define E_OUTOFMEMORY MAKE_HRESULT_CODE(0x8007000Eu)
#define E_INVALIDARG MAKE_HRESULT_CODE(0x80070057u)
#define CLASS_E_NOAGGREGATION MAKE_HRESULT_CODE(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE MAKE_HRESULT_CODE(0x80040111u)
#define REGDB_E_READREGDB MAKE_HRESULT_CODE(0x80040150u)
#define REGDB_E_WRITEREGDB MAKE_HRESULT_CODE(0x80040151u)
#define REGDB_E_CLASSNOTREG MAKE_HRESULT_CODE(0x80040154u)
#define CO_E_NOTINITIALIZED MAKE_HRESULT_CODE(0x800401F0u)
#define CO_E_CLASSSTRING MAKE_HRESULT_CODE(0x800401F3u)
#define CO_E_DLLNOTFOUND MAKE_HRESULT_CODE(0x800401F8u)
#define CO_E_ERRORINDLL MAKE_HRESULT_CODE(0x800401F9u)
#define TYPE_E_REGISTRYACCESS MAKE_HRESULT_CODE(0x8002801Cu)

// Win32 error codes returned by the registry calls.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADDB 1009L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L

inline HRESULT HRESULT_FROM_WIN32(LONG e) {
    return e <= 0 ? static_cast<HRESULT>(e)
                  : static_cast<HRESULT>((static_cast<uint32_t>(e) & 0xFFFFu) | 0x80070000u);
}

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef CLSID* LPCLSID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

extern const GUID GUID_NULL;

// Critical sections are recursive on the platform: the owning thread may
// enter again.
struct CRITICAL_SECTION {
    std::recursive_mutex* lock;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

// GetModuleFileName takes any address inside the module's image as the
// module handle (what a module's DllMain receives); the handle of
// LoadLibrary serves GetProcAddress and FreeLibrary.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size);
#define GetModuleFileName GetModuleFileNameW
typedef void (*FARPROC)();
HMODULE LoadLibraryW(LPCWSTR path);
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
#define LoadLibrary LoadLibraryW

// Kernel objects: events and threads. Handles of events are closed with
// CloseHandle.
typedef void* HANDLE;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
HANDLE CreateEventW(LPVOID security, BOOL manualReset, BOOL initialState, LPCWSTR name);
#define CreateEvent CreateEventW
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE object);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);
void Sleep(DWORD milliseconds);
// Milliseconds since the process's clock started.
DWORD GetTickCount();

// Thread priorities of the platform: 0 is the highest, 255 the lowest; a
// new thread runs at 251 (normal). Only the calling thread's own pseudo
// handle is served.
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
BOOL CeSetThreadPriority(HANDLE thread, int priority);
int CeGetThreadPriority(HANDLE thread);
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// The debugger's output; here the process's standard error.
void OutputDebugStringW(LPCWSTR text);
#define OutputDebugString OutputDebugStringW
