// Ruvala: the Telebib2 validation engine, as seen by its clients (type library "Verimek").
//
// Class identities, interface identities, member order and dispatch ids are fixed. A member
// that is read and written occupies two places, the read first. Failures return E_UNEXPECTED
// (or the failure's own negative code) with error information whose source is the ProgID.
#pragma once

#include <edicom/EdiCom.h>

namespace ruvala {

using namespace edicom;

// Type library "Verimek", version 1.0, "Verimek Library": {B065DC7C-D365-4431-B9E7-B368B1CE9BBD}
constexpr GUID LIBID_Verimek = {0xB065DC7C, 0xD365, 0x4431, {0xB9, 0xE7, 0xB3, 0x68, 0xB1, 0xCE, 0x9B, 0xBD}};
// EdiDocument, "Verimek.EdiDocument": {4CCEFD81-E6B6-40F5-BA53-43BB235685BE}
constexpr CLSID CLSID_EdiDocument = {0x4CCEFD81, 0xE6B6, 0x40F5, {0xBA, 0x53, 0x43, 0xBB, 0x23, 0x56, 0x85, 0xBE}};
// {04E4A7B5-3C3F-4F58-8AFA-E2BB75C8DA28}
constexpr IID IID_IEdiDocument = {0x04E4A7B5, 0x3C3F, 0x4F58, {0x8A, 0xFA, 0xE2, 0xBB, 0x75, 0xC8, 0xDA, 0x28}};
// EdiError, "Verimek.EdiError": {01C84AC4-DAB8-4AFD-A2B9-2A1EB0AA740E}
constexpr CLSID CLSID_EdiError = {0x01C84AC4, 0xDAB8, 0x4AFD, {0xA2, 0xB9, 0x2A, 0x1E, 0xB0, 0xAA, 0x74, 0x0E}};
// {14E63404-AF66-48F3-BB4A-28A05B26C77B}
constexpr IID IID_IEdiError = {0x14E63404, 0xAF66, 0x48F3, {0xBB, 0x4A, 0x28, 0xA0, 0x5B, 0x26, 0xC7, 0x7B}};
// EdiWarning, "Verimek.EdiWarning": {F42D7EFB-F36D-4EE3-88DF-968A212574B4}
constexpr CLSID CLSID_EdiWarning = {0xF42D7EFB, 0xF36D, 0x4EE3, {0x88, 0xDF, 0x96, 0x8A, 0x21, 0x25, 0x74, 0xB4}};
// {F1D7CA18-8DFA-446B-A985-E89442E80158}
constexpr IID IID_IEdiWarning = {0xF1D7CA18, 0x8DFA, 0x446B, {0xA9, 0x85, 0xE8, 0x94, 0x42, 0xE8, 0x01, 0x58}};

constexpr const char* ProgID_EdiDocument = "Verimek.EdiDocument";
constexpr const char* ProgID_EdiError = "Verimek.EdiError";
constexpr const char* ProgID_EdiWarning = "Verimek.EdiWarning";

struct IEdiError;
struct IEdiWarning;

// "Dispatch interface for EdiDocument Object". Dispatch ids in the comments.
struct IEdiDocument : IDispatch {
  virtual HRESULT Validate(BSTR e1, VARIANT_BOOL* valid) = 0;                   // 1
  virtual HRESULT get_ErrorCount(std::int32_t* count) = 0;                      // 2
  virtual HRESULT get_Errors(std::int32_t index, IEdiError** error) = 0;        // 3
  virtual HRESULT get_InterApplication(VARIANT_BOOL* value) = 0;                // 4
  virtual HRESULT put_InterApplication(VARIANT_BOOL value) = 0;                 // 4
  virtual HRESULT get_DbEvalVersion(BSTR* version) = 0;                         // 5
  virtual HRESULT get_DbRefVersion(BSTR* version) = 0;                          // 6
  virtual HRESULT put_MessageDate(DATE date) = 0;                               // 7
  virtual HRESULT ValidateEx(BSTR e1, BSTR* error, std::int32_t* result) = 0;   // 8; error in and out
  virtual HRESULT get_CheckFilter(VARIANT_BOOL* value) = 0;                     // 201
  virtual HRESULT put_CheckFilter(VARIANT_BOOL value) = 0;                      // 201
  virtual HRESULT get_WarningCount(std::int32_t* count) = 0;                    // 202
  virtual HRESULT get_Warnings(std::int32_t index, IEdiWarning** warning) = 0;  // 203
  virtual HRESULT get_ErrorCodeList(BSTR* list) = 0;                            // 204
  virtual HRESULT get_WarningCodeList(BSTR* list) = 0;                          // 205
  virtual HRESULT get_ReferentialVersion(BSTR* version) = 0;                    // 206
  virtual HRESULT get_ReferentialFilename(BSTR* fileName) = 0;                  // 207

 protected:
  ~IEdiDocument() = default;
};

// "Dispatch interface for EdiError Object".
struct IEdiError : IDispatch {
  virtual HRESULT get_SegmentNo(std::int32_t* value) = 0;  // 1
  virtual HRESULT put_SegmentNo(std::int32_t value) = 0;   // 1
  virtual HRESULT get_SegmentKey(BSTR* value) = 0;         // 2
  virtual HRESULT put_SegmentKey(BSTR value) = 0;          // 2
  virtual HRESULT get_ErrorMessage(BSTR* value) = 0;       // 3
  virtual HRESULT put_ErrorMessage(BSTR value) = 0;        // 3
  virtual HRESULT get_ToString(BSTR* value) = 0;           // 4
  virtual HRESULT get_ErrorCode(BSTR* value) = 0;          // 201
  virtual HRESULT put_ErrorCode(BSTR value) = 0;           // 201

 protected:
  ~IEdiError() = default;
};

struct IEdiWarning : IDispatch {
  virtual HRESULT get_SegmentNo(std::int32_t* value) = 0;  // 201
  virtual HRESULT put_SegmentNo(std::int32_t value) = 0;   // 201
  virtual HRESULT get_SegmentKey(BSTR* value) = 0;         // 202
  virtual HRESULT put_SegmentKey(BSTR value) = 0;          // 202
  virtual HRESULT get_WarningMessage(BSTR* value) = 0;     // 203
  virtual HRESULT put_WarningMessage(BSTR value) = 0;      // 203
  virtual HRESULT get_ToString(BSTR* value) = 0;           // 204
  virtual HRESULT get_WarningCode(BSTR* value) = 0;        // 205
  virtual HRESULT put_WarningCode(BSTR value) = 0;         // 205

 protected:
  ~IEdiWarning() = default;
};

// An administration shortcut for clients in the same process, offered by every IEdiDocument
// through QueryInterface: the configured referential loaded exactly as a validation loads it,
// and described. It is in no type library and cannot be called by name.
// {F622D0CF-30A4-412D-8861-03665261720B}
constexpr IID IID_IEdiReferentialInfo = {0xF622D0CF, 0x30A4, 0x412D, {0x88, 0x61, 0x03, 0x66, 0x52, 0x61, 0x72, 0x0B}};

struct IEdiReferentialInfo : IUnknown {
  // Loads the referential as the first validation does. S_OK when it is loaded; S_FALSE when
  // the engine refused its settings (it has shown its error box); a failure with error
  // information holding the loading failure's text.
  virtual HRESULT Load() = 0;
  // The referential's version text; a failure with error information when it cannot be read.
  virtual HRESULT get_Version(BSTR* version) = 0;
  // The loaded tables with their row counts: "TABLE=COUNT" lines, each ended by a line feed.
  virtual HRESULT get_TableCounts(BSTR* counts) = 0;

 protected:
  ~IEdiReferentialInfo() = default;
};

}  // namespace ruvala

// Server entry points of libruvala.so.
EDICOM_API edicom::HRESULT DllGetClassObject(const edicom::CLSID& rclsid, const edicom::IID& riid, void** ppv);
EDICOM_API edicom::HRESULT DllCanUnloadNow();
EDICOM_API edicom::HRESULT DllRegisterServer();
EDICOM_API edicom::HRESULT DllUnregisterServer();
