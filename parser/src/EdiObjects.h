// The component objects: EdiMessage owns a tree, an error list and a streaming writer;
// EdiSegment is a light handle on one node of a message's tree.
#pragma once

#include <edicom/EdiComServer.h>
#include <kalvix/Kalvix.h>

#include <atomic>
#include <memory>
#include <string>

#include "ErrorReporter.h"
#include "MessageWriter.h"
#include "SegmentTree.h"

namespace kalvix {

// Shared between a message and its handles so that a handle can tell that its tree was
// emptied or its message released, instead of reading freed nodes.
struct TreeAnchor {
  std::atomic<long> refs{1};
  SegmentTree* tree = nullptr;
  void AddRef() { ++refs; }
  void Release() {
    if (--refs == 0) delete this;
  }
};

class EdiMessage final : public edicom::DispatchObject<EdiMessage, IEdiMessage>, public IEdiSegmentCursor {
 public:
  static constexpr IID kInterfaceId = IID_IEdiMessage;
  static const edicom::DispMember* DispTable(std::size_t& count);

  EdiMessage();
  ~EdiMessage() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }

  // IEdiSegmentCursor
  HRESULT MoveFirst() override;
  HRESULT MoveNext() override;
  HRESULT get_Segment(VARIANT* segment) override;
  HRESULT get_LatestAt(std::int32_t level, VARIANT* segment) override;
  HRESULT get_Level(std::int32_t* level) override;
  HRESULT get_Data(std::int32_t* data) override;
  HRESULT put_Data(std::int32_t data) override;
  HRESULT get_Empty(std::int32_t* empty) override;
  HRESULT get_Rubrique(std::int32_t* rubrique) override;
  HRESULT TagValue(const char** value, std::int32_t* length) override;
  HRESULT QualifierValue(const char** value, std::int32_t* length) override;
  HRESULT SlotOf(const char* cde, std::int32_t cdeLength, std::int32_t cdepos, const char* de, std::int32_t deLength,
                 std::int32_t depos, std::int32_t* slot) override;
  HRESULT SlotValue(std::int32_t slot, const char** value, std::int32_t* length) override;

  HRESULT put_InputStream(BSTR text) override;
  HRESULT get_ErrorCount(std::int32_t* count) override;
  HRESULT get_Error(std::int32_t errorId, BSTR* text) override;
  HRESULT GetFirstSgmt(VARIANT* segment) override;
  HRESULT Reset() override;
  HRESULT get_QuestionMode(std::int32_t* value) override;
  HRESULT put_QuestionMode(std::int32_t value) override;
  HRESULT NewSegment(BSTR tag) override;
  HRESULT Insert(BSTR value, BSTR de, std::int32_t depos) override;
  HRESULT InsertInComponent(BSTR value, BSTR cde, std::int32_t cdepos, BSTR de, std::int32_t depos) override;
  HRESULT get_OutputStream(BSTR* text) override;
  HRESULT FindFirstSgmt(BSTR tag, BSTR qual, VARIANT* segment) override;
  HRESULT NewMessage() override;
  HRESULT Generate(BSTR* text) override;
  HRESULT PatchSegment(BSTR tag, std::int32_t dataIndex, std::int32_t isData, std::int32_t* previous) override;

  // For tests and benchmarks that link the implementation.
  SegmentTree& Tree() { return FTree; }

 private:
  void ResetTree();

  SegmentTree FTree;
  ErrorReporter FErrors;
  std::unique_ptr<MessageWriter> FWriter;
  std::int32_t FQuestionValue = 0;
  TreeAnchor* FAnchor;

  // The cursor: its segment, the tree generation it walks, the latest segment of each level.
  SegmentNode* CursorNode() const { return FTree.Generation() == FCursorGeneration ? FCursor : nullptr; }
  HRESULT MoveTo(SegmentNode* n);
  // *out = read(current node): E_POINTER without out, E_FAIL on no segment.
  template <class F>
  HRESULT ReadCursor(std::int32_t* out, F read);
  static constexpr int kCursorLevels = 32;
  SegmentNode* FCursor = nullptr;
  std::uint64_t FCursorGeneration = 0;
  SegmentNode* FLatest[kCursorLevels] = {};
};

class EdiSegment final : public edicom::DispatchObject<EdiSegment, IEdiSegment>, public IEdiSegmentValues {
 public:
  static constexpr IID kInterfaceId = IID_IEdiSegment;
  static const edicom::DispMember* DispTable(std::size_t& count);

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }
  HRESULT FindValue(const char* cde, std::int32_t cdeLength, std::int32_t cdepos, const char* de, std::int32_t deLength,
                    std::int32_t depos, const char** value, std::int32_t* length) override;
  HRESULT TagValue(const char** value, std::int32_t* length) override;
  HRESULT QualifierValue(const char** value, std::int32_t* length) override;

  // A handle created through the class identity refers to no node: every member fails.
  EdiSegment() = default;
  EdiSegment(TreeAnchor* anchor, SegmentNode* node);
  ~EdiSegment() override;

  HRESULT get_Tag(BSTR* tag) override;
  HRESULT Find(BSTR pDe, std::int32_t depos, BSTR* value) override;
  HRESULT FindInComponent(BSTR pCde, std::int32_t cdepos, BSTR pDe, std::int32_t depos, BSTR* value) override;
  HRESULT GetNextSgmt(VARIANT* segment) override;
  HRESULT get_Level(std::int32_t* level) override;
  HRESULT get_Empty(std::int32_t* empty) override;
  HRESULT put_Empty(std::int32_t value) override;
  HRESULT get_Rubrique(std::int32_t* rubrique) override;
  HRESULT get_IsPositionalData(std::int32_t* positional) override;
  HRESULT get_PositionalData(BSTR* text) override;
  HRESULT GetPrevSgmt(VARIANT* segment) override;
  HRESULT GetFirstChild(VARIANT* segment) override;
  HRESULT GetNextSibling(VARIANT* segment) override;
  HRESULT get_Qualifier(BSTR* qualifier) override;
  HRESULT put_Qualifier(BSTR qualifier) override;
  HRESULT get_Data(std::int32_t* data) override;
  HRESULT put_Data(std::int32_t data) override;
  HRESULT Insert(BSTR value, BSTR pDe, std::int32_t depos) override;
  HRESULT InsertInComponent(BSTR value, BSTR pCde, std::int32_t cdepos, BSTR pDe, std::int32_t depos) override;
  HRESULT AddChild(BSTR tag, VARIANT* segment) override;
  HRESULT AddSegment(BSTR tag, VARIANT* segment) override;
  HRESULT get_Parent(VARIANT* segment) override;
  HRESULT Delete() override;

  // A variant holding a new handle on n, or VT_NULL.
  static HRESULT MakeVariant(TreeAnchor* anchor, SegmentNode* n, VARIANT* out);

 private:
  // The node, or nullptr when the handle refers to none or its tree was emptied.
  SegmentNode* Node() const;
  template <class F>
  HRESULT WithNode(F&& f);

  TreeAnchor* FAnchor = nullptr;
  SegmentNode* FNode = nullptr;
  std::uint64_t FGeneration = 0;
};

}  // namespace kalvix
