#pragma once
// The binary interface of the desktop's remote device library (rapi.dll):
// the records and the entry points the program calls, laid out as the
// library expects them. Used by the adapter that loads the library and by
// the test library that stands in for it.

#include <windows.h>

#include <string>

#include "platform/rapi.h"

namespace hhsync::rapi_abi {

using CEOID = DWORD;
using CEPROPID = DWORD;

struct RAPIINIT {
  DWORD cbSize;
  HANDLE heRapiInit;
  HRESULT hrRapiInit;
};

struct CEGUID {
  DWORD Data1;
  DWORD Data2;
  DWORD Data3;
  DWORD Data4;
};

struct CEBLOB {
  DWORD dwCount;
  LPBYTE lpb;
};

union CEVALUNION {
  short iVal;
  USHORT uiVal;
  long lVal;
  ULONG ulVal;
  FILETIME filetime;
  LPWSTR lpwstr;
  CEBLOB blob;
  BOOL boolVal;
  double dblVal;
};

struct CEPROPVAL {
  CEPROPID propid;
  WORD wLenData;
  WORD wFlags;
  CEVALUNION val;
};

struct SORTORDERSPEC {
  CEPROPID propid;
  DWORD dwFlags;
};

inline constexpr int kMaxSortOrders = 4;        // CEDB_MAXSORTORDER
inline constexpr int kMaxDbaseNameLength = 32;  // CEDB_MAXDBASENAMELEN, with the terminator

struct CEDBASEINFO {
  DWORD dwFlags;
  WCHAR szDbaseName[kMaxDbaseNameLength];
  DWORD dwDbaseType;
  WORD wNumRecords;
  WORD wNumSortOrder;
  DWORD dwSize;
  FILETIME ftLastModified;
  SORTORDERSPEC rgSortSpecs[kMaxSortOrders];
};

struct CEFILEINFO {
  DWORD dwAttributes;
  CEOID oidParent;
  WCHAR szFileName[MAX_PATH];
  FILETIME ftLastChanged;
  DWORD dwLength;
};

struct CEDIRINFO {
  DWORD dwAttributes;
  CEOID oidParent;
  WCHAR szDirName[MAX_PATH];
};

struct CERECORDINFO {
  CEOID oidParent;
};

inline constexpr WORD kObjTypeDatabase = 2;  // OBJTYPE_DATABASE

struct CEOIDINFO {
  WORD wObjType;
  WORD wPad;
  union {
    CEFILEINFO infFile;
    CEDIRINFO infDirectory;
    CEDBASEINFO infDatabase;
    CERECORDINFO infRecord;
  };
};

// The entry points, by the names the library exports them under.
using CeRapiInitExFn = HRESULT(WINAPI*)(RAPIINIT*);
using CeRapiUninitFn = HRESULT(WINAPI*)();
using CeGetLastErrorFn = DWORD(WINAPI*)();
using CeRapiGetErrorFn = HRESULT(WINAPI*)();
using CeMountDBVolFn = BOOL(WINAPI*)(CEGUID*, LPWSTR, DWORD);
using CeUnmountDBVolFn = BOOL(WINAPI*)(CEGUID*);
using CeOpenDatabaseExFn = HANDLE(WINAPI*)(CEGUID*, CEOID*, LPWSTR, CEPROPID, DWORD, void*);
using CeCreateDatabaseExFn = CEOID(WINAPI*)(CEGUID*, CEDBASEINFO*);
using CeOidGetInfoExFn = BOOL(WINAPI*)(CEGUID*, CEOID, CEOIDINFO*);
using CeDeleteDatabaseExFn = BOOL(WINAPI*)(CEGUID*, CEOID);
using CeReadRecordPropsFn = CEOID(WINAPI*)(HANDLE, DWORD, WORD*, CEPROPID*, BYTE**, DWORD*);
using CeWriteRecordPropsFn = CEOID(WINAPI*)(HANDLE, CEOID, WORD, CEPROPVAL*);
using CeDeleteRecordFn = BOOL(WINAPI*)(HANDLE, CEOID);
using CeCloseHandleFn = BOOL(WINAPI*)(HANDLE);
using CeRegOpenKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, HKEY*);
using CeRegQueryValueExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD*, DWORD*, BYTE*, DWORD*);
using CeRegCreateKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                         SECURITY_ATTRIBUTES*, HKEY*, DWORD*);
using CeRegSetValueExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
using CeRegCloseKeyFn = LONG(WINAPI*)(HKEY);
using CeRapiInvokeFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, BYTE*, DWORD*, BYTE**, void**,
                                        DWORD);

// The port's values as the library's records and back, the same for the
// adapter and the library that stands in for it.
inline CEGUID ToAbi(const CeGuid& guid) {
  return CEGUID{guid.data[0], guid.data[1], guid.data[2], guid.data[3]};
}

// A null record is the default (object store) volume.
inline CeGuid FromAbi(const CEGUID* guid) {
  CeGuid out;
  if (guid) {
    out.data[0] = guid->Data1;
    out.data[1] = guid->Data2;
    out.data[2] = guid->Data3;
    out.data[3] = guid->Data4;
  }
  return out;
}

// A null string is empty.
inline std::u16string FromWide(const WCHAR* text) {
  std::u16string out;
  for (; text && *text; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

// A property's value; one the record lacks (CEDB_PROPNOTFOUND) has none.
inline CePropVal FromAbi(const CEPROPVAL& p) {
  CePropVal v;
  v.propid = p.propid;
  v.flags = p.wFlags;
  if (p.wFlags & CEDB_PROPNOTFOUND) return v;
  switch (PropType(p.propid)) {
    case CEVT_UI4:
      v.ulVal = p.val.ulVal;
      break;
    case CEVT_LPWSTR:
      v.lpwsz = FromWide(p.val.lpwstr);
      break;
    case CEVT_BLOB:
      if (p.val.blob.lpb) v.blob.assign(p.val.blob.lpb, p.val.blob.lpb + p.val.blob.dwCount);
      break;
    default:
      break;
  }
  return v;
}

}  // namespace hhsync::rapi_abi
