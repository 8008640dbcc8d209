// The subset of the Win32 API that the library is written against, implemented on
// Linux by libzanthplatform.so. Names, types, constants, results and GetLastError()
// codes follow Win32; on Windows the real <windows.h> takes the place of this header.
#ifndef ZANTH_WIN32_WINDOWS_H
#define ZANTH_WIN32_WINDOWS_H

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

// Windows: the system's own API. The library uses the wide-character functions and
// TEXT() literals throughout, so UNICODE is on; min and max stay the standard ones.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// (first: the headers below need its declarations)

#include <process.h>
#include <shellapi.h>

// The extensions of zanthplatform.dll (zanthext.h) are exported while the DLL is
// built and imported by everyone else.
#ifdef ZANTH_PLATFORM_BUILD
#define ZANTH_PLATFORM_API __declspec(dllexport)
#else
#define ZANTH_PLATFORM_API __declspec(dllimport)
#endif

#else // !_WIN32

// Everything declared here is exported from libzanthplatform.so; the library itself
// is built with hidden visibility, so only these names form its interface.
#define ZANTH_PLATFORM_API __attribute__((visibility("default")))

#define WINAPI
#define CALLBACK
#define WINBASEAPI ZANTH_PLATFORM_API

// ---------------------------------------------------------------------------
// Base types. The original is 32-bit Windows: LONG, ULONG and DWORD are 32 bits.
// ---------------------------------------------------------------------------
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef char CHAR;
typedef std::uint16_t WORD;
typedef std::uint16_t USHORT;
typedef std::int16_t SHORT;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::intptr_t INT_PTR;
typedef std::size_t SIZE_T;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BYTE* LPBYTE;
typedef void* HANDLE;
typedef HANDLE* LPHANDLE;

struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

#define TEXT(quote) u##quote
#define __TEXT(quote) u##quote

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b)                                                                             \
    ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff)))     \
                                                      << 16))

typedef union _LARGE_INTEGER
{
    struct
    {
        DWORD LowPart;
        LONG HighPart;
    };
    struct
    {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER
{
    struct
    {
        DWORD LowPart;
        DWORD HighPart;
    };
    struct
    {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef struct _FILETIME
{
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _BY_HANDLE_FILE_INFORMATION
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *PBY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

typedef struct _SYSTEMTIME
{
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

typedef struct _SECURITY_ATTRIBUTES
{
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED
{
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union
    {
        struct
        {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _SYSTEM_INFO
{
    union
    {
        DWORD dwOemId;
        struct
        {
            WORD wProcessorArchitecture;
            WORD wReserved;
        };
    };
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

typedef struct _MEMORY_BASIC_INFORMATION
{
    PVOID BaseAddress;
    PVOID AllocationBase;
    DWORD AllocationProtect;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
} MEMORY_BASIC_INFORMATION, *PMEMORY_BASIC_INFORMATION;

typedef ULONGLONG DWORDLONG;

typedef struct _MEMORYSTATUSEX
{
    DWORD dwLength;
    DWORD dwMemoryLoad;
    DWORDLONG ullTotalPhys;
    DWORDLONG ullAvailPhys;
    DWORDLONG ullTotalPageFile;
    DWORDLONG ullAvailPageFile;
    DWORDLONG ullTotalVirtual;
    DWORDLONG ullAvailVirtual;
    DWORDLONG ullAvailExtendedVirtual;
} MEMORYSTATUSEX, *LPMEMORYSTATUSEX;

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID parameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD controlType);

// ---------------------------------------------------------------------------
// Handles, waits and errors
// ---------------------------------------------------------------------------
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define STATUS_WAIT_0 ((DWORD)0x00000000L)
#define STATUS_ABANDONED_WAIT_0 ((DWORD)0x00000080L)
#define STATUS_TIMEOUT ((DWORD)0x00000102L)
#define STATUS_PENDING ((DWORD)0x00000103L)
#define WAIT_OBJECT_0 ((DWORD)0x00000000L)
#define WAIT_ABANDONED ((DWORD)0x00000080L)
#define WAIT_ABANDONED_0 ((DWORD)0x00000080L)
#define WAIT_TIMEOUT ((DWORD)0x00000102L)
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE STATUS_PENDING

#define ERROR_SUCCESS ((DWORD)0L)
#define NO_ERROR ((DWORD)0L)
#define ERROR_INVALID_FUNCTION ((DWORD)1L)
#define ERROR_FILE_NOT_FOUND ((DWORD)2L)
#define ERROR_PATH_NOT_FOUND ((DWORD)3L)
#define ERROR_TOO_MANY_OPEN_FILES ((DWORD)4L)
#define ERROR_ACCESS_DENIED ((DWORD)5L)
#define ERROR_INVALID_HANDLE ((DWORD)6L)
#define ERROR_NOT_ENOUGH_MEMORY ((DWORD)8L)
#define ERROR_INVALID_DATA ((DWORD)13L)
#define ERROR_OUTOFMEMORY ((DWORD)14L)
#define ERROR_NO_MORE_FILES ((DWORD)18L)
#define ERROR_WRITE_FAULT ((DWORD)29L)
#define ERROR_READ_FAULT ((DWORD)30L)
#define ERROR_GEN_FAILURE ((DWORD)31L)
#define ERROR_SHARING_VIOLATION ((DWORD)32L)
#define ERROR_LOCK_VIOLATION ((DWORD)33L)
#define ERROR_HANDLE_EOF ((DWORD)38L)
#define ERROR_HANDLE_DISK_FULL ((DWORD)39L)
#define ERROR_NOT_SUPPORTED ((DWORD)50L)
#define ERROR_FILE_EXISTS ((DWORD)80L)
#define ERROR_INVALID_PARAMETER ((DWORD)87L)
#define ERROR_BROKEN_PIPE ((DWORD)109L)
#define ERROR_BUFFER_OVERFLOW ((DWORD)111L)
#define ERROR_DISK_FULL ((DWORD)112L)
#define ERROR_CALL_NOT_IMPLEMENTED ((DWORD)120L)
#define ERROR_INSUFFICIENT_BUFFER ((DWORD)122L)
#define ERROR_INVALID_NAME ((DWORD)123L)
#define ERROR_MOD_NOT_FOUND ((DWORD)126L)
#define ERROR_PROC_NOT_FOUND ((DWORD)127L)
#define ERROR_NEGATIVE_SEEK ((DWORD)131L)
#define ERROR_DIR_NOT_EMPTY ((DWORD)145L)
#define ERROR_BAD_ARGUMENTS ((DWORD)160L)
#define ERROR_BUSY ((DWORD)170L)
#define ERROR_ALREADY_EXISTS ((DWORD)183L)
#define ERROR_FILENAME_EXCED_RANGE ((DWORD)206L)
#define ERROR_PIPE_NOT_CONNECTED ((DWORD)233L)
#define ERROR_MORE_DATA ((DWORD)234L)
#define ERROR_NO_MORE_ITEMS ((DWORD)259L)
#define ERROR_BAD_PATHNAME ((DWORD)161L)
#define ERROR_CANTOPEN ((DWORD)1011L)
#define ERROR_CANTREAD ((DWORD)1012L)
#define ERROR_CANTWRITE ((DWORD)1013L)
#define ERROR_REGISTRY_CORRUPT ((DWORD)1015L)
#define ERROR_REGISTRY_IO_FAILED ((DWORD)1016L)
#define ERROR_KEY_DELETED ((DWORD)1018L)
#define ERROR_WAIT_NO_CHILDREN ((DWORD)128L)
#define ERROR_DIRECTORY ((DWORD)267L)
#define ERROR_NOT_OWNER ((DWORD)288L)
#define ERROR_TOO_MANY_POSTS ((DWORD)298L)
#define ERROR_INVALID_ADDRESS ((DWORD)487L)
#define ERROR_OPERATION_ABORTED ((DWORD)995L)
#define ERROR_IO_INCOMPLETE ((DWORD)996L)
#define ERROR_IO_PENDING ((DWORD)997L)
#define ERROR_NOACCESS ((DWORD)998L)
#define ERROR_COMMITMENT_LIMIT ((DWORD)1455L)
#define ERROR_TIMEOUT ((DWORD)1460L)
#define ERROR_FILE_INVALID ((DWORD)1006L)
#define ERROR_INVALID_FLAGS ((DWORD)1004L)
#define ERROR_MAPPED_ALIGNMENT ((DWORD)1132L)
#define ERROR_NO_UNICODE_TRANSLATION ((DWORD)1113L)
#define ERROR_DEVICE_NOT_CONNECTED ((DWORD)1167L)
#define ERROR_NOT_FOUND ((DWORD)1168L)
#define ERROR_INVALID_WINDOW_HANDLE ((DWORD)1400L)
#define ERROR_INVALID_USER_BUFFER ((DWORD)1784L)
#define ERROR_CANT_ACCESS_FILE ((DWORD)1920L)
#define ERROR_PRIVILEGE_NOT_HELD ((DWORD)1314L)

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_DEVICE 0x00000040u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u

#define FILE_TYPE_UNKNOWN 0x0000u
#define FILE_TYPE_DISK 0x0001u
#define FILE_TYPE_CHAR 0x0002u
#define FILE_TYPE_PIPE 0x0003u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

// ---------------------------------------------------------------------------
// Memory and file mapping
// ---------------------------------------------------------------------------
#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_DECOMMIT 0x00004000u
#define MEM_RELEASE 0x00008000u
#define MEM_FREE 0x00010000u
#define MEM_PRIVATE 0x00020000u
#define MEM_MAPPED 0x00040000u
#define MEM_RESET 0x00080000u
#define MEM_IMAGE 0x01000000u

#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_WRITECOPY 0x08u
#define PAGE_EXECUTE 0x10u
#define PAGE_EXECUTE_READ 0x20u
#define PAGE_EXECUTE_READWRITE 0x40u
#define PAGE_GUARD 0x100u

#define SECTION_MAP_WRITE 0x0002u
#define SECTION_MAP_READ 0x0004u
#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE SECTION_MAP_WRITE
#define FILE_MAP_READ SECTION_MAP_READ
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

// ---------------------------------------------------------------------------
// Message boxes
// ---------------------------------------------------------------------------
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_CANCELTRYCONTINUE 0x00000006u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONHAND 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0u
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_DEFBUTTON4 0x00000300u
#define MB_DEFMASK 0x00000F00u
#define MB_APPLMODAL 0x00000000u
#define MB_SYSTEMMODAL 0x00001000u
#define MB_TASKMODAL 0x00002000u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDTRYAGAIN 10
#define IDCONTINUE 11

// ---------------------------------------------------------------------------
// Console control
// ---------------------------------------------------------------------------
#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CTRL_CLOSE_EVENT 2u
#define CTRL_LOGOFF_EVENT 5u
#define CTRL_SHUTDOWN_EVENT 6u

// ---------------------------------------------------------------------------
// Text conversion and system messages
// ---------------------------------------------------------------------------
#define CP_ACP 0u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u
#define REG_QWORD_LITTLE_ENDIAN 11u

#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_OPTION_VOLATILE 0x00000001u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define SYNCHRONIZE 0x00100000u
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000u
#define MAXIMUM_ALLOWED 0x02000000u
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0x000F003Fu

#define TLS_OUT_OF_INDEXES ((DWORD)0xFFFFFFFF)
#define MAX_COMPUTERNAME_LENGTH 15

extern "C" {

// Errors (per thread)
WINBASEAPI DWORD WINAPI GetLastError(void);
WINBASEAPI void WINAPI SetLastError(DWORD errorCode);
WINBASEAPI DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId,
                                       DWORD languageId, LPWSTR buffer, DWORD size,
                                       void* arguments);

// Handles
WINBASEAPI BOOL WINAPI CloseHandle(HANDLE object);
WINBASEAPI BOOL WINAPI DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                                       LPHANDLE target, DWORD access, BOOL inherit, DWORD options);
WINBASEAPI HANDLE WINAPI GetCurrentProcess(void);
#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u

// Events, mutexes and waits
WINBASEAPI HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                      BOOL initialState, LPCWSTR name);
WINBASEAPI BOOL WINAPI SetEvent(HANDLE event);
WINBASEAPI BOOL WINAPI ResetEvent(HANDLE event);
WINBASEAPI HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner,
                                      LPCWSTR name);
WINBASEAPI BOOL WINAPI ReleaseMutex(HANDLE mutex);
WINBASEAPI DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
WINBASEAPI DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                               DWORD milliseconds);
WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile* addend);
WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile* addend);
WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);
WINBASEAPI LONG WINAPI InterlockedExchangeAdd(LONG volatile* addend, LONG value);
WINBASEAPI LONG WINAPI InterlockedCompareExchange(LONG volatile* destination, LONG exchange,
                                                  LONG comparand);

// Threads
WINBASEAPI HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                      LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                      DWORD creationFlags, LPDWORD threadId);
[[noreturn]] WINBASEAPI void WINAPI ExitThread(DWORD exitCode);
WINBASEAPI BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
WINBASEAPI DWORD WINAPI GetCurrentThreadId(void);
WINBASEAPI void WINAPI Sleep(DWORD milliseconds);
WINBASEAPI DWORD WINAPI TlsAlloc(void);
WINBASEAPI LPVOID WINAPI TlsGetValue(DWORD index);
WINBASEAPI BOOL WINAPI TlsSetValue(DWORD index, LPVOID value);
WINBASEAPI BOOL WINAPI TlsFree(DWORD index);

// The C run-time's thread calls: _beginthread returns (uintptr_t)-1 and sets errno
// (EAGAIN, EINVAL) on failure; the handle it returns closes itself when the thread ends.
ZANTH_PLATFORM_API std::uintptr_t _beginthread(void (*start)(void*), unsigned stackSize,
                                               void* argument);
[[noreturn]] ZANTH_PLATFORM_API void _endthread(void);

// Process and system
WINBASEAPI DWORD WINAPI GetCurrentProcessId(void);
WINBASEAPI BOOL WINAPI GetComputerNameW(LPWSTR buffer, LPDWORD size);
WINBASEAPI DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size);
WINBASEAPI BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module);
WINBASEAPI DWORD WINAPI GetTempPathW(DWORD bufferLength, LPWSTR buffer);
WINBASEAPI void WINAPI GetSystemInfo(LPSYSTEM_INFO systemInfo);

// Text conversion (CP_UTF8; CP_ACP is UTF-8 as well on Linux)
WINBASEAPI int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength,
                                          LPWSTR wide, int wideLength);
WINBASEAPI int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                                          LPSTR text, int textLength, LPCSTR defaultChar,
                                          BOOL* usedDefaultChar);

// Files
WINBASEAPI HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                     LPSECURITY_ATTRIBUTES attributes, DWORD creationDisposition,
                                     DWORD flagsAndAttributes, HANDLE templateFile);
WINBASEAPI BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                                LPOVERLAPPED overlapped);
WINBASEAPI BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite,
                                 LPDWORD bytesWritten, LPOVERLAPPED overlapped);
WINBASEAPI DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                                       DWORD moveMethod);
WINBASEAPI BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance,
                                        PLARGE_INTEGER newPointer, DWORD moveMethod);
WINBASEAPI DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
WINBASEAPI BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize);
WINBASEAPI BOOL WINAPI SetEndOfFile(HANDLE file);
WINBASEAPI BOOL WINAPI FlushFileBuffers(HANDLE file);
WINBASEAPI DWORD WINAPI GetFileAttributesW(LPCWSTR fileName);
WINBASEAPI DWORD WINAPI GetFileType(HANDLE file);
WINBASEAPI BOOL WINAPI GetFileInformationByHandle(HANDLE file,
                                                  LPBY_HANDLE_FILE_INFORMATION information);
WINBASEAPI BOOL WINAPI DeleteFileW(LPCWSTR fileName);

// Virtual memory and file mapping
WINBASEAPI LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType,
                                      DWORD protect);
WINBASEAPI BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);
WINBASEAPI SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer,
                                      SIZE_T length);
WINBASEAPI BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX buffer);
WINBASEAPI HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes,
                                            DWORD protect, DWORD maximumSizeHigh,
                                            DWORD maximumSizeLow, LPCWSTR name);
WINBASEAPI LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh,
                                       DWORD offsetLow, SIZE_T bytesToMap);
WINBASEAPI BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress);

// Time
WINBASEAPI BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
WINBASEAPI BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);
WINBASEAPI void WINAPI GetSystemTimeAsFileTime(LPFILETIME systemTimeAsFileTime);
WINBASEAPI BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
WINBASEAPI BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime);
WINBASEAPI void WINAPI GetSystemTime(LPSYSTEMTIME systemTime);
WINBASEAPI void WINAPI GetLocalTime(LPSYSTEMTIME systemTime);
WINBASEAPI DWORD WINAPI GetTickCount(void);

// Console
WINBASEAPI BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

// Registry (the functions return the error code; ERROR_SUCCESS on success)
WINBASEAPI LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                          DWORD options, REGSAM desired,
                                          const LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                                          LPDWORD disposition);
WINBASEAPI LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired,
                                        PHKEY result);
WINBASEAPI LSTATUS WINAPI RegCloseKey(HKEY key);
WINBASEAPI LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                           LPDWORD type, LPBYTE data, LPDWORD dataSize);
WINBASEAPI LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                         const BYTE* data, DWORD dataSize);
WINBASEAPI LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR valueName);
WINBASEAPI LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
WINBASEAPI LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                        LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                        PFILETIME lastWriteTime);
WINBASEAPI LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName,
                                        LPDWORD valueNameLength, LPDWORD reserved, LPDWORD type,
                                        LPBYTE data, LPDWORD dataSize);
WINBASEAPI LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength,
                                           LPDWORD reserved, LPDWORD subKeys,
                                           LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                           LPDWORD values, LPDWORD maxValueNameLength,
                                           LPDWORD maxValueLength, LPDWORD securityDescriptor,
                                           PFILETIME lastWriteTime);
WINBASEAPI LSTATUS WINAPI RegFlushKey(HKEY key);

// User interface
WINBASEAPI int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
WINBASEAPI HWND WINAPI GetForegroundWindow(void);
WINBASEAPI BOOL WINAPI SetForegroundWindow(HWND window);

} // extern "C"

// ---------------------------------------------------------------------------
// Directory search, version information and top-level windows
// ---------------------------------------------------------------------------
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u

typedef struct _WIN32_FIND_DATAW
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u

typedef struct _OSVERSIONINFOW
{
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *POSVERSIONINFOW, *LPOSVERSIONINFOW;

typedef LONG_PTR LPARAM;
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND window, LPARAM parameter);

extern "C" {

WINBASEAPI HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
WINBASEAPI BOOL WINAPI FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData);
WINBASEAPI BOOL WINAPI FindClose(HANDLE findFile);

WINBASEAPI BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW versionInformation);

WINBASEAPI BOOL WINAPI EnumWindows(WNDENUMPROC enumFunc, LPARAM parameter);
WINBASEAPI int WINAPI GetWindowTextW(HWND window, LPWSTR text, int maxCount);

} // extern "C"

// ---------------------------------------------------------------------------
// Serial communication and overlapped I/O on devices
// ---------------------------------------------------------------------------
// "\\.\COMn" opens serial port n (see zanthext.h for where ports map to). A port
// is opened exclusively: a second opener, in this process or another, receives
// ERROR_ACCESS_DENIED. Overlapped ReadFile, WriteFile and WaitCommEvent on a port
// opened with FILE_FLAG_OVERLAPPED complete as the device becomes ready; the event
// in OVERLAPPED.hEvent is reset when an operation begins and set when it ends.
#define CBR_110 110u
#define CBR_300 300u
#define CBR_600 600u
#define CBR_1200 1200u
#define CBR_2400 2400u
#define CBR_4800 4800u
#define CBR_9600 9600u
#define CBR_14400 14400u
#define CBR_19200 19200u
#define CBR_38400 38400u
#define CBR_56000 56000u
#define CBR_57600 57600u
#define CBR_115200 115200u
#define CBR_128000 128000u
#define CBR_256000 256000u

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4

#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_TOGGLE 0x03

#define EV_RXCHAR 0x0001u
#define EV_RXFLAG 0x0002u
#define EV_TXEMPTY 0x0004u
#define EV_CTS 0x0008u
#define EV_DSR 0x0010u
#define EV_RLSD 0x0020u
#define EV_BREAK 0x0040u
#define EV_ERR 0x0080u
#define EV_RING 0x0100u

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u

#define MAXDWORD 0xFFFFFFFFu

typedef struct _DCB
{
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS
{
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT
{
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

#define HasOverlappedIoCompleted(lpOverlapped)                                                     \
    (__atomic_load_n(&(lpOverlapped)->Internal, __ATOMIC_ACQUIRE) != STATUS_PENDING)

extern "C" {

WINBASEAPI BOOL WINAPI GetCommState(HANDLE file, LPDCB dcb);
WINBASEAPI BOOL WINAPI SetCommState(HANDLE file, LPDCB dcb);
WINBASEAPI BOOL WINAPI SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
WINBASEAPI BOOL WINAPI SetCommMask(HANDLE file, DWORD eventMask);
WINBASEAPI BOOL WINAPI GetCommMask(HANDLE file, LPDWORD eventMask);
WINBASEAPI BOOL WINAPI WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
WINBASEAPI BOOL WINAPI ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status);
WINBASEAPI BOOL WINAPI PurgeComm(HANDLE file, DWORD flags);
WINBASEAPI BOOL WINAPI GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
WINBASEAPI BOOL WINAPI SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
WINBASEAPI BOOL WINAPI CancelIo(HANDLE file);
WINBASEAPI BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                           LPDWORD transferred, BOOL wait);

} // extern "C"

// ---------------------------------------------------------------------------
// Modules loaded at run time, the user name and the shell's "open" verb
// ---------------------------------------------------------------------------
typedef INT_PTR(WINAPI* FARPROC)(void);

#define UNLEN 256
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

// ShellExecuteW returns a value of 32 or less on failure (one of these, or 0 when
// the system is out of resources).
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31
#define ERROR_NO_ASSOCIATION ((DWORD)1155L)

extern "C" {

// "NAME.DLL" loads libname.so (lower case) from the library path, or the file named
// by the environment variable ZANTH_DLL_NAME when that is set (see zanthext.h); a
// name with a '/' is loaded as the path it is. ERROR_MOD_NOT_FOUND when it cannot
// be loaded. Each successful call needs its FreeLibrary.
WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR fileName);
// ERROR_PROC_NOT_FOUND when the module has no such symbol.
WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE module);

// The login name of the user the process runs as. `size` is in characters; on
// success it receives the length with the terminator.
WINBASEAPI BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size);

// Only the verb "open" (or null) on an existing file or a URL: the file is handed to
// the desktop's opener (xdg-open) without waiting for it. SE_ERR_NOASSOC with
// ERROR_NO_ASSOCIATION when there is no opener, SE_ERR_FNF for a missing file.
WINBASEAPI HINSTANCE WINAPI ShellExecuteW(HWND window, LPCWSTR operation, LPCWSTR file,
                                          LPCWSTR parameters, LPCWSTR directory, INT showCommand);

} // extern "C"

#endif // !_WIN32

#endif // ZANTH_WIN32_WINDOWS_H
