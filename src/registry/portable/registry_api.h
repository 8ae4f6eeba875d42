// The registry interface the tool calls, for builds that have no Windows registry.
// Same names, types, constants and signatures as the Windows SDK, so the registration and
// removal code reads exactly as it would on Windows. The calls are served by whichever
// RegistryStore is bound (see registry_store.h); with none bound every call fails.
#pragma once

#include <cstdint>

typedef int32_t LONG;
typedef LONG LSTATUS;
typedef LONG HRESULT;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef DWORD REGSAM;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef uintptr_t ULONG_PTR;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_BADDB 1009L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define SELFREG_E_CLASS (static_cast<HRESULT>(0x80040201u))

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR key_class, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);
LONG RegCloseKey(HKEY key);
LSTATUS SHDeleteKeyA(HKEY key, LPCSTR sub_key);
