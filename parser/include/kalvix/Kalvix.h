// Kalvix: the Telebib2 EDIFACT parser and generator, as seen by its clients.
//
// Class identities, interface identities, member order and dispatch ids are fixed: clients
// that call through the interface table depend on the order below. Segment handles
// (IEdiSegment) do not keep their message alive: a handle must not outlive its message, nor
// be used after InputStream, Reset or NewMessage replaced the tree.
#pragma once

#include <edicom/EdiCom.h>

namespace kalvix {

using namespace edicom;

// Type library KalvixLib, version 1.0, "Ombra Edifact Parser/Generator".
// {38E9147D-67ED-11D2-8513-00C04FB15DA9}
constexpr GUID LIBID_KalvixLib = {0x38E9147D, 0x67ED, 0x11D2, {0x85, 0x13, 0x00, 0xC0, 0x4F, 0xB1, 0x5D, 0xA9}};
// EdiMessage, "Tarnholt.EdiMessage.1": {73E5753F-6727-11D2-8513-00C04FB15DA9}
constexpr CLSID CLSID_EdiMessage = {0x73E5753F, 0x6727, 0x11D2, {0x85, 0x13, 0x00, 0xC0, 0x4F, 0xB1, 0x5D, 0xA9}};
// EdiSegment, "Tarnholt.EdiSegment.1": {73E57541-6727-11D2-8513-00C04FB15DA9}
constexpr CLSID CLSID_EdiSegment = {0x73E57541, 0x6727, 0x11D2, {0x85, 0x13, 0x00, 0xC0, 0x4F, 0xB1, 0x5D, 0xA9}};
// {38E9148A-67ED-11D2-8513-00C04FB15DA9}
constexpr IID IID_IEdiMessage = {0x38E9148A, 0x67ED, 0x11D2, {0x85, 0x13, 0x00, 0xC0, 0x4F, 0xB1, 0x5D, 0xA9}};
// {38E9148B-67ED-11D2-8513-00C04FB15DA9}
constexpr IID IID_IEdiSegment = {0x38E9148B, 0x67ED, 0x11D2, {0x85, 0x13, 0x00, 0xC0, 0x4F, 0xB1, 0x5D, 0xA9}};

constexpr const char* ProgID_EdiMessage = "Tarnholt.EdiMessage.1";
constexpr const char* ProgID_EdiSegment = "Tarnholt.EdiSegment.1";

// One message: give it text, read its syntax errors, walk or build its tree, write it out.
// Dispatch ids in the comments. Results marked "variant" hold a new IEdiSegment handle
// (VT_DISPATCH) or VT_NULL when there is no segment.
struct IEdiMessage : IDispatch {
  virtual HRESULT put_InputStream(BSTR text) = 0;                       // 1
  virtual HRESULT get_ErrorCount(std::int32_t* count) = 0;              // 2
  virtual HRESULT get_Error(std::int32_t errorId, BSTR* text) = 0;      // 3; E_INVALIDARG out of range
  virtual HRESULT GetFirstSgmt(VARIANT* segment) = 0;                   // 4
  virtual HRESULT Reset() = 0;                                          // 5
  virtual HRESULT get_QuestionMode(std::int32_t* value) = 0;            // 6
  virtual HRESULT put_QuestionMode(std::int32_t value) = 0;             // 6
  virtual HRESULT NewSegment(BSTR tag) = 0;                             // 7
  virtual HRESULT Insert(BSTR value, BSTR de, std::int32_t depos) = 0;  // 8
  virtual HRESULT InsertInComponent(BSTR value, BSTR cde, std::int32_t cdepos, BSTR de,
                                    std::int32_t depos) = 0;                 // 9
  virtual HRESULT get_OutputStream(BSTR* text) = 0;                          // 10
  virtual HRESULT FindFirstSgmt(BSTR tag, BSTR qual, VARIANT* segment) = 0;  // 11
  virtual HRESULT NewMessage() = 0;                                          // 12
  virtual HRESULT Generate(BSTR* text) = 0;                                  // 13
  virtual HRESULT PatchSegment(BSTR tag, std::int32_t dataIndex, std::int32_t isData,
                               std::int32_t* previous) = 0;  // 14

 protected:
  ~IEdiMessage() = default;
};

// A handle on one node of a message's tree. Flags are returned as 0 or 1.
struct IEdiSegment : IDispatch {
  virtual HRESULT get_Tag(BSTR* tag) = 0;                               // 1
  virtual HRESULT Find(BSTR pDe, std::int32_t depos, BSTR* value) = 0;  // 2
  virtual HRESULT FindInComponent(BSTR pCde, std::int32_t cdepos, BSTR pDe, std::int32_t depos,
                                  BSTR* value) = 0;                      // 3
  virtual HRESULT GetNextSgmt(VARIANT* segment) = 0;                     // 4
  virtual HRESULT get_Level(std::int32_t* level) = 0;                    // 5
  virtual HRESULT get_Empty(std::int32_t* empty) = 0;                    // 6
  virtual HRESULT put_Empty(std::int32_t value) = 0;                     // 6
  virtual HRESULT get_Rubrique(std::int32_t* rubrique) = 0;              // 7
  virtual HRESULT get_IsPositionalData(std::int32_t* positional) = 0;    // 8
  virtual HRESULT get_PositionalData(BSTR* text) = 0;                    // 9
  virtual HRESULT GetPrevSgmt(VARIANT* segment) = 0;                     // 10
  virtual HRESULT GetFirstChild(VARIANT* segment) = 0;                   // 11
  virtual HRESULT GetNextSibling(VARIANT* segment) = 0;                  // 12
  virtual HRESULT get_Qualifier(BSTR* qualifier) = 0;                    // 13
  virtual HRESULT put_Qualifier(BSTR qualifier) = 0;                     // 13
  virtual HRESULT get_Data(std::int32_t* data) = 0;                      // 14
  virtual HRESULT put_Data(std::int32_t data) = 0;                       // 14
  virtual HRESULT Insert(BSTR value, BSTR pDe, std::int32_t depos) = 0;  // 15
  virtual HRESULT InsertInComponent(BSTR value, BSTR pCde, std::int32_t cdepos, BSTR pDe,
                                    std::int32_t depos) = 0;   // 16
  virtual HRESULT AddChild(BSTR tag, VARIANT* segment) = 0;    // 17
  virtual HRESULT AddSegment(BSTR tag, VARIANT* segment) = 0;  // 18
  virtual HRESULT get_Parent(VARIANT* segment) = 0;            // 19
  virtual HRESULT Delete() = 0;                                // 20

 protected:
  ~IEdiSegment() = default;
};

// A reading shortcut for clients in the same process, offered by every IEdiSegment through
// QueryInterface: no wide strings and no allocation for each value read. It is in no type
// library and cannot be called by name.
// {5253C90B-26A1-4575-97FE-C17AB8AB0B4E}
constexpr IID IID_IEdiSegmentValues = {0x5253C90B, 0x26A1, 0x4575, {0x97, 0xFE, 0xC1, 0x7A, 0xB8, 0xAB, 0x0B, 0x4E}};

struct IEdiSegmentValues : IUnknown {
  // As FindInComponent, or as Find when cdeLength is 0, with 8-bit codes. The value is the
  // message's own 8-bit text (the code page of InputStream); it stays valid until the tree
  // changes or the message goes.
  virtual HRESULT FindValue(const char* cde, std::int32_t cdeLength, std::int32_t cdepos, const char* de,
                            std::int32_t deLength, std::int32_t depos, const char** value, std::int32_t* length) = 0;
  // Tag and Qualifier the same way, as 8-bit text.
  virtual HRESULT TagValue(const char** value, std::int32_t* length) = 0;
  virtual HRESULT QualifierValue(const char** value, std::int32_t* length) = 0;

 protected:
  ~IEdiSegmentValues() = default;
};

// A walk of a message's whole tree in document order for clients in the same process, offered
// by every IEdiMessage through QueryInterface: no handle is made per segment, and a value is read
// by its slot in the segment's layout, which a client resolves once per tag. In no type library.
// Values are as IEdiSegmentValues gives them; reading a positional-data segment's values fails.
// {6F0E3A52-9C1B-4D27-8E45-3B7A1C90D6F2}
constexpr IID IID_IEdiSegmentCursor = {0x6F0E3A52, 0x9C1B, 0x4D27, {0x8E, 0x45, 0x3B, 0x7A, 0x1C, 0x90, 0xD6, 0xF2}};

struct IEdiSegmentCursor : IUnknown {
  // To the first segment, or to the next one in document order (GetNextSgmt's order). S_FALSE,
  // on no segment, past the last or when the tree was emptied since.
  virtual HRESULT MoveFirst() = 0;
  virtual HRESULT MoveNext() = 0;
  // A handle on the current segment; VT_NULL on none.
  virtual HRESULT get_Segment(VARIANT* segment) = 0;
  // A handle on the latest segment of a level (0 to 31) this walk met, the current one
  // included; VT_NULL when none.
  virtual HRESULT get_LatestAt(std::int32_t level, VARIANT* segment) = 0;
  // The current segment, as IEdiSegment's members of the same names give them; E_FAIL on none.
  virtual HRESULT get_Level(std::int32_t* level) = 0;
  virtual HRESULT get_Data(std::int32_t* data) = 0;
  virtual HRESULT put_Data(std::int32_t data) = 0;
  virtual HRESULT get_Empty(std::int32_t* empty) = 0;
  virtual HRESULT get_Rubrique(std::int32_t* rubrique) = 0;
  virtual HRESULT TagValue(const char** value, std::int32_t* length) = 0;
  virtual HRESULT QualifierValue(const char** value, std::int32_t* length) = 0;
  // The slot of a value (arguments as FindValue) in the current segment's layout, or -1 when
  // the layout has none; the same for every segment of the same tag.
  virtual HRESULT SlotOf(const char* cde, std::int32_t cdeLength, std::int32_t cdepos, const char* de,
                         std::int32_t deLength, std::int32_t depos, std::int32_t* slot) = 0;
  // The current segment's value in a slot; empty for -1 or a slot past its last value.
  virtual HRESULT SlotValue(std::int32_t slot, const char** value, std::int32_t* length) = 0;

 protected:
  ~IEdiSegmentCursor() = default;
};

}  // namespace kalvix

// Server entry points of libkalvix.so.
EDICOM_API edicom::HRESULT DllGetClassObject(const edicom::CLSID& rclsid, const edicom::IID& riid, void** ppv);
EDICOM_API edicom::HRESULT DllCanUnloadNow();
EDICOM_API edicom::HRESULT DllRegisterServer();
EDICOM_API edicom::HRESULT DllUnregisterServer();
