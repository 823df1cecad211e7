// The four validation workers and the line validation shared with other processes.
#include "evWorkers.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "ClassUtils.h"
#include "DateUtils.h"
#include "EdiProcs.h"
#include "LineReader.h"
#include "SysTrace.h"

namespace verimek {

using edicom::BStr;
using edicom::ComPtr;

// Parameters instead of formatted values: the stored values are the same, quotes included,
// and the statements are prepared once per run.
static const char kInsertMessage[] =
    "INSERT INTO [Messages]  ([ID], [XehId], X921, X923, X925, X912, X916, [ErrorCount], [WarningCount])  "
    "VALUES(null, ?, ?, ?, ?, ?, ?, ?, ?)";
static const char kInsertData[] = "INSERT INTO [Data]  ([Id], [MessageID], [XehId], [Body])  VALUES(null, ?, ?, ?)";
static const char kInsertError[] =
    "INSERT INTO [Errors]  ([Id], [MessageID], [XehId], [SegmentNo], [SegmentKey], [ErrorCode], [ErrorMessage])  "
    "VALUES(null, ?, ?, ?, ?, ?, ?)";
static const char kInsertWarning[] =
    "INSERT INTO [Warnings]  ([Id], [MessageID], [XehId], [SegmentNo], [SegmentKey], [WarningCode], "
    "[WarningMessage])  VALUES(null, ?, ?, ?, ?, ?, ?)";

void CheckHr(edicom::HRESULT hr, const char* call) {
  if (edicom::SUCCEEDED(hr)) return;
  std::string text = edicom::TakeErrorDescription();
  if (text.empty())
    text = common::Fmt("%s failed (0x%x)", call, static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
  throw std::runtime_error(text);
}

TComponentFactory TComponentFactory::ByClassId() {
  TComponentFactory f;
  f.CreateDocument = [] {
    ComPtr<ruvala::IEdiDocument> doc;
    CheckHr(edicom::CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc), "Create EdiDocument");
    return doc;
  };
  f.CreateMessage = [] {
    ComPtr<kalvix::IEdiMessage> msg;
    CheckHr(edicom::CreateInstance(kalvix::CLSID_EdiMessage, kalvix::IID_IEdiMessage, msg), "Create EdiMessage");
    return msg;
  };
  return f;
}

edicom::DATE TodayDate() { return common::TodayDate(); }

bool ParseIsoDate(const std::string& text, edicom::DATE& date) { return common::TryParseIsoDate(text, date); }

// ---- TWorker

TWorker::TWorker(TWorkerHost& AHost, const TComponentFactory& AFactory) : FHost(AHost) {
  FEdiDocument = AFactory.CreateDocument ? AFactory.CreateDocument() : ComPtr<ruvala::IEdiDocument>();
  FEdiMessage = AFactory.CreateMessage ? AFactory.CreateMessage() : ComPtr<kalvix::IEdiMessage>();
}

TWorker::~TWorker() = default;

void TWorker::Start() {
  FHost.StartThread([this] { Run(); });
}

void TWorker::Execute() {
  if (common::TTrace* t = common::Trace()) t->Write(this, "Execute()", common::ttInformation);
}

void TWorker::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    if (FLastError.empty()) FLastError = e.what();
  } catch (...) {
    if (FLastError.empty()) FLastError = "Unknown failure";
  }
  TWorkerHost& host = FHost;
  // The handler and the freeing run on the user-interface thread; nothing touches this after.
  host.RunOnUiThread([this] {
    if (OnTerminate) {
      try {
        OnTerminate(*this);
      } catch (...) {
      }
    }
    if (FreeOnTerminate) delete this;
  });
}

static void ApplySettings(ruvala::IEdiDocument* doc, const TValidationSettings& s) {
  if (!doc) throw std::runtime_error("No EdiDocument");
  CheckHr(doc->put_MessageDate(s.MessageDate), "MessageDate");
  CheckHr(doc->put_CheckFilter(s.CheckFilter ? edicom::VARIANT_TRUE : edicom::VARIANT_FALSE), "CheckFilter");
  CheckHr(doc->put_InterApplication(s.InterApplication ? edicom::VARIANT_TRUE : edicom::VARIANT_FALSE),
          "InterApplication");
}

static TMessageFindings ValidateAndRead(ruvala::IEdiDocument* doc, const std::string& Text) {
  BStr text(Text);
  edicom::VARIANT_BOOL valid = edicom::VARIANT_FALSE;
  CheckHr(doc->Validate(text.Get(), &valid), "Validate");
  return ReadFindings(doc);
}

TMessageFindings ReadFindings(ruvala::IEdiDocument* doc) {
  if (!doc) throw std::runtime_error("No EdiDocument");
  TMessageFindings f;
  CheckHr(doc->get_ErrorCount(&f.ErrorCount), "ErrorCount");
  CheckHr(doc->get_WarningCount(&f.WarningCount), "WarningCount");
  f.Errors.reserve(f.ErrorCount > 0 ? f.ErrorCount : 0);
  for (std::int32_t i = 0; i < f.ErrorCount; ++i) {
    ComPtr<ruvala::IEdiError> e;
    CheckHr(doc->get_Errors(i, e.Put()), "Errors");
    TFinding x;
    BStr key, code, msg;
    CheckHr(e->get_SegmentNo(&x.SegmentNo), "SegmentNo");
    CheckHr(e->get_SegmentKey(key.Put()), "SegmentKey");
    CheckHr(e->get_ErrorCode(code.Put()), "ErrorCode");
    CheckHr(e->get_ErrorMessage(msg.Put()), "ErrorMessage");
    x.SegmentKey = key.Utf8(), x.Code = code.Utf8(), x.Message = msg.Utf8();
    f.Errors.push_back(std::move(x));
  }
  f.Warnings.reserve(f.WarningCount > 0 ? f.WarningCount : 0);
  for (std::int32_t i = 0; i < f.WarningCount; ++i) {
    ComPtr<ruvala::IEdiWarning> w;
    CheckHr(doc->get_Warnings(i, w.Put()), "Warnings");
    TFinding x;
    BStr key, code, msg;
    CheckHr(w->get_SegmentNo(&x.SegmentNo), "SegmentNo");
    CheckHr(w->get_SegmentKey(key.Put()), "SegmentKey");
    CheckHr(w->get_WarningCode(code.Put()), "WarningCode");
    CheckHr(w->get_WarningMessage(msg.Put()), "WarningMessage");
    x.SegmentKey = key.Utf8(), x.Code = code.Utf8(), x.Message = msg.Utf8();
    f.Warnings.push_back(std::move(x));
  }
  return f;
}

TMessageFindings ValidateMessage(ruvala::IEdiDocument* doc, const TValidationSettings& settings,
                                 const std::string& Text) {
  ApplySettings(doc, settings);
  return ValidateAndRead(doc, Text);
}

void ValidateLineMessages(ruvala::IEdiDocument* doc, const TValidationSettings& settings, const std::string& Line,
                          const std::function<void(int, const std::string*, const TMessageFindings&)>& onMessage) {
  std::string x912, x916, x925;
  common::EdiGetExchangeType(Line, x912, x916, x925);
  ApplySettings(doc, settings);
  if (!x925.empty()) {
    onMessage(1, nullptr, ValidateAndRead(doc, Line));
    return;
  }
  std::vector<std::string> pieces;
  common::EdiDecompose(Line, pieces);
  for (std::size_t k = 0; k < pieces.size(); ++k)
    onMessage(static_cast<int>(k + 1), &pieces[k], ValidateAndRead(doc, pieces[k]));
}

TLineOutcome ValidateLineOutcome(ruvala::IEdiDocument* doc, const TValidationSettings& settings,
                                 const std::string& Line, bool EncodeBodies) {
  TLineOutcome outcome;
  try {
    ValidateLineMessages(doc, settings, Line, [&](int, const std::string* piece, const TMessageFindings& f) {
      TLineOutcome::TMessage m;
      m.IsPiece = piece != nullptr;
      if (piece) m.Piece = *piece;
      m.Findings = f;
      if (EncodeBodies) m.Body = CompressAndEncode(piece ? *piece : Line);
      outcome.Messages.push_back(std::move(m));
    });
  } catch (const std::exception& e) {
    outcome.Failed = true;
    outcome.Error = e.what();
  }
  return outcome;
}

// ---- Read-ahead validation

struct TReadAheadLineSource::TImpl {
  static constexpr std::size_t kMaxLines = 64;
  static constexpr std::size_t kMaxBytes = 64u << 20;
  // Storing is faster than validating: the storing side waits for a few lines at a time rather
  // than being woken for every one.
  static constexpr std::size_t kWakeLines = 8;

  ruvala::IEdiDocument* Doc;
  TValidationSettings Settings;
  std::thread Thread;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::pair<std::string, TLineOutcome>> Queue;
  std::size_t QueuedBytes = 0;
  bool Finished = false, Stop = false;
  // Each side wakes the other only when it waits, and then for a batch: a wake-up per line cost
  // both threads more than storing the line.
  bool ProducerWaits = false, ConsumerWaits = false;
  std::exception_ptr Failure;

  void Run(TLineReader& reader, std::size_t count) {
    edicom::ScopedApartment apartment;
    try {
      std::string line;
      for (std::size_t i = 0; i < count && reader.ReadLine(line); ++i) {
        TLineOutcome outcome = ValidateLineOutcome(Doc, Settings, line, /*EncodeBodies=*/false);
        // Encoding goes to whichever side has time: here when the storing side falls behind.
        bool behind;
        {
          std::lock_guard<std::mutex> lock(Mutex);
          behind = Queue.size() >= kMaxLines / 2;
        }
        if (behind) {
          try {
            for (TLineOutcome::TMessage& m : outcome.Messages) m.Body = CompressAndEncode(m.IsPiece ? m.Piece : line);
          } catch (const std::exception&) {
            // Left to the storing side, where the failure becomes the line's error.
            for (TLineOutcome::TMessage& m : outcome.Messages) m.Body.clear();
          }
        }
        std::unique_lock<std::mutex> lock(Mutex);
        // Bounded read-ahead; one line always fits, however long.
        while (!(Stop || Queue.empty() || (Queue.size() < kMaxLines && QueuedBytes < kMaxBytes))) {
          ProducerWaits = true;
          Changed.wait(lock);
        }
        if (Stop) return;
        QueuedBytes += line.size();
        Queue.emplace_back(std::move(line), std::move(outcome));
        if (ConsumerWaits && (Queue.size() >= kWakeLines || QueuedBytes >= kMaxBytes)) {
          ConsumerWaits = false;
          Changed.notify_all();
        }
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(Mutex);
      Failure = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(Mutex);
    Finished = true;
    Changed.notify_all();
  }
};

TReadAheadLineSource::TReadAheadLineSource(ruvala::IEdiDocument* doc, const TValidationSettings& settings)
    : FImpl(std::make_unique<TImpl>()) {
  FImpl->Doc = doc;
  FImpl->Settings = settings;
}

TReadAheadLineSource::~TReadAheadLineSource() { End(); }

void TReadAheadLineSource::End() {
  {
    std::lock_guard<std::mutex> lock(FImpl->Mutex);
    FImpl->Stop = true;
    FImpl->Changed.notify_all();
  }
  if (FImpl->Thread.joinable()) FImpl->Thread.join();
}

void TReadAheadLineSource::Begin(TLineReader& reader, std::size_t count) {
  FImpl->Thread = std::thread([this, &reader, count] { FImpl->Run(reader, count); });
}

bool TReadAheadLineSource::Next(std::string& line, TLineOutcome& outcome) {
  TImpl& q = *FImpl;
  std::unique_lock<std::mutex> lock(q.Mutex);
  if (q.Queue.empty())
    while (!(q.Queue.size() >= TImpl::kWakeLines || q.QueuedBytes >= TImpl::kMaxBytes || q.Finished)) {
      q.ConsumerWaits = true;
      q.Changed.wait(lock);
    }
  if (q.Queue.empty()) {
    if (q.Failure) std::rethrow_exception(q.Failure);
    return false;
  }
  line = std::move(q.Queue.front().first);
  outcome = std::move(q.Queue.front().second);
  q.Queue.pop_front();
  q.QueuedBytes -= line.size();
  // The validating side goes on once a batch of lines fits again.
  if (q.ProducerWaits && (q.Queue.empty() || (q.Queue.size() + TImpl::kWakeLines <= TImpl::kMaxLines &&
                                              q.QueuedBytes < TImpl::kMaxBytes))) {
    q.ProducerWaits = false;
    q.Changed.notify_all();
  }
  return true;
}

// ---- Message, syntax and referential workers

TValidateMsgWorker::TValidateMsgWorker(TWorkerHost& AHost, const TComponentFactory& AFactory,
                                       const std::string& AnEdiMessage)
    : TWorker(AHost, AFactory), MessageDate(TodayDate()) {
  if (common::TTrace* t = common::Trace()) t->WriteFmt(this, common::ttInformation, "Create(%s)", AnEdiMessage);
  FEdiMessageText = AnEdiMessage;
}

void TValidateMsgWorker::Execute() {
  TWorker::Execute();
  edicom::ScopedApartment apartment;
  try {
    FEdiMessageText = common::TString::UnformatEdifact(FEdiMessageText);
    TValidationSettings s;
    s.MessageDate = MessageDate;
    ApplySettings(EdiDocument(), s);
    BStr text(FEdiMessageText);
    edicom::VARIANT_BOOL valid = edicom::VARIANT_FALSE;
    CheckHr(EdiDocument()->Validate(text.Get(), &valid), "Validate");
    Synchronize([this] {
      if (OnValidateDone) OnValidateDone(*this);
    });
  } catch (const std::exception& e) {
    FLastError = e.what();
  }
}

TValidateSyntaxWorker::TValidateSyntaxWorker(TWorkerHost& AHost, const TComponentFactory& AFactory,
                                             const std::string& AnEdiMessage)
    : TWorker(AHost, AFactory) {
  if (common::TTrace* t = common::Trace()) t->WriteFmt(this, common::ttInformation, "Create(%s)", AnEdiMessage);
  FEdiMessageText = AnEdiMessage;
}

void TValidateSyntaxWorker::Execute() {
  TWorker::Execute();
  edicom::ScopedApartment apartment;
  try {
    if (!EdiMessage()) throw std::runtime_error("No EdiMessage");
    BStr text(FEdiMessageText);
    CheckHr(EdiMessage()->put_InputStream(text.Get()), "InputStream");
    Synchronize([this] {
      if (OnValidateDone) OnValidateDone(*this);
    });
  } catch (const std::exception& e) {
    FLastError = e.what();
  }
}

void TReferentialNameWorker::Execute() {
  TWorker::Execute();
  edicom::ScopedApartment apartment;
  try {
    if (!EdiDocument()) throw std::runtime_error("No EdiDocument");
    BStr name;
    CheckHr(EdiDocument()->get_ReferentialFilename(name.Put()), "ReferentialFilename");
    FReferentialFilename = name.Utf8();
  } catch (const std::exception& e) {
    FLastError = e.what();
  }
}

// ---- File worker

TValidateFileWorker::TValidateFileWorker(TWorkerHost& AHost, const TComponentFactory& AFactory,
                                         const std::string& AFilename, const std::string& ADBName)
    : TWorker(AHost, AFactory), FFilename(AFilename), FDbName(ADBName) {
  Settings.MessageDate = TodayDate();
}

TValidateFileWorker::~TValidateFileWorker() = default;

void TValidateFileWorker::DoProgress() {
  Synchronize([this] {
    if (OnProgress) OnProgress(*this, FProgressMsg, FProgressMin, FProgressMax, FProgressPos);
  });
}

void TValidateFileWorker::DoError() {
  Synchronize([this] {
    FCancel = false;
    if (OnError) OnError(*this, FErrorMsg, FCancel);
  });
}

void TValidateFileWorker::CreateDB() {
  try {
    FDatabase = DatabaseFactory ? DatabaseFactory(FDbName) : std::make_unique<TDatabase>(FDbName, true);
    // The results file is a scratch file that only this run writes: a write-ahead log keeps every
    // message's transaction atomic even if the process dies, no sync waits for the disk (a power
    // loss costs the run, which is lost anyway), and the exclusive lock spares the file locking
    // of every transaction. The sheet opens the file only after the run has closed it.
    FDatabase->ExecSql("PRAGMA locking_mode=EXCLUSIVE", false);
    FDatabase->ExecSql("PRAGMA journal_mode=WAL", false);
    FDatabase->ExecSql("PRAGMA synchronous=OFF", false);
    CreateResultsSchema(*FDatabase);
  } catch (const std::exception& e) {
    throw std::runtime_error(common::Fmt("CreateDB failed (%s)", e.what()));
  }
}

static std::int64_t StrToInt(const std::string& s) {
  const char* p = s.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(p, &end, 10);
  if (s.empty() || *end != '\0' || errno == ERANGE || s[0] == ' ' || s[0] == '\t')
    throw std::runtime_error(common::Fmt("SaveMessageResult failed (X912 \"%s\" is not a number)", s));
  return v;
}

void TValidateFileWorker::InsertMessageRows(const TStoredMessage& m) {
  FDatabase->ExecParams(kInsertMessage,
                        {std::int64_t{m.XehId}, m.X921, m.X923, m.X925, m.X912, m.X916,
                         std::int64_t{m.Findings.ErrorCount}, std::int64_t{m.Findings.WarningCount}},
                        true);
  const std::int64_t messageId = FDatabase->LastInsertRowId();
  FDatabase->ExecParams(kInsertData, {messageId, std::int64_t{m.XehId}, m.Body}, false);
  for (const TFinding& e : m.Findings.Errors)
    FDatabase->ExecParams(
        kInsertError, {messageId, std::int64_t{m.XehId}, std::int64_t{e.SegmentNo}, e.SegmentKey, e.Code, e.Message},
        true);
  for (const TFinding& w : m.Findings.Warnings)
    FDatabase->ExecParams(
        kInsertWarning, {messageId, std::int64_t{m.XehId}, std::int64_t{w.SegmentNo}, w.SegmentKey, w.Code, w.Message},
        true);
}

// Storage failures end the run: every further message would fail the same way.
static EStorageError StorageFailure(const std::exception& e) {
  return EStorageError(common::Fmt("Storing the results failed (%s)", e.what()));
}

void TValidateFileWorker::SaveMessageResult(const std::string& Line, int XehId, const std::string* Piece,
                                            const TMessageFindings& f, const std::string* Body) {
  TStoredMessage m;
  std::string x922, x924;
  common::EdiGetParties(Line, m.X921, x922, m.X923, x924);
  m.X921 = common::TString::PadLeft(m.X921, 4, '0');
  const std::string& text = Piece ? *Piece : Line;
  std::string x912;
  common::EdiGetExchangeType(text, x912, m.X916, m.X925);
  m.X912 = StrToInt(x912);
  m.XehId = XehId;
  m.Findings = f;
  m.Body = Body ? *Body : CompressAndEncode(text);

  try {
    if (!FDatabase->InTransaction()) {
      FDatabase->BeginTransaction();
      FGroupStart = std::chrono::steady_clock::now();
    }
    FDatabase->Savepoint("Message");
  } catch (const ESqliteError& e) {
    if (e.IsStorageFailure()) throw StorageFailure(e);
    throw;
  }
  try {
    InsertMessageRows(m);
    FDatabase->ReleaseSavepoint("Message");
  } catch (...) {
    try {
      // SQLite may have ended the whole transaction (a full disk, an I/O error): the messages of
      // the group before this one are written again, so that only this one is lost.
      if (!FDatabase->RollbackToSavepoint("Message")) ReplayGroup();
    } catch (...) {
      // The first failure is the one worth reporting.
    }
    try {
      throw;
    } catch (const ESqliteError& e) {
      if (e.IsStorageFailure()) throw StorageFailure(e);
      throw;
    }
  }
  FGroup.push_back(std::move(m));
  if (FGroup.size() >= GroupMessages || std::chrono::steady_clock::now() - FGroupStart >= GroupTime) CommitGroup();
}

void TValidateFileWorker::ReplayGroup() {
  if (FGroup.empty()) return;
  try {
    FDatabase->BeginTransaction();
    for (const TStoredMessage& m : FGroup) {
      FDatabase->Savepoint("Message");
      InsertMessageRows(m);
      FDatabase->ReleaseSavepoint("Message");
    }
  } catch (...) {
    FGroup.clear();
    FDatabase->Rollback();
    throw;
  }
}

void TValidateFileWorker::CommitGroup() {
  if (!FDatabase || !FDatabase->InTransaction()) return;
  try {
    FDatabase->Commit();
  } catch (const std::exception& e) {
    FGroup.clear();
    try {
      FDatabase->Rollback();
    } catch (...) {
      // The commit's failure is the one worth reporting.
    }
    throw StorageFailure(e);
  }
  FStoredMessages.fetch_add(FGroup.size(), std::memory_order_relaxed);
  FGroup.clear();
}

void TValidateFileWorker::ValidateLine(const std::string& Line) {
  ValidateLineMessages(EdiDocument(), Settings, Line,
                       [&](int xehId, const std::string* piece, const TMessageFindings& f) {
                         SaveMessageResult(Line, xehId, piece, f);
                       });
}

void TValidateFileWorker::SaveLineOutcome(const std::string& Line, const TLineOutcome& outcome) {
  for (std::size_t k = 0; k < outcome.Messages.size(); ++k) {
    const TLineOutcome::TMessage& m = outcome.Messages[k];
    SaveMessageResult(Line, static_cast<int>(k + 1), m.IsPiece ? &m.Piece : nullptr, m.Findings,
                      m.Body.empty() ? nullptr : &m.Body);
  }
  if (outcome.Failed) throw std::runtime_error(outcome.Error);
}

void TValidateFileWorker::Execute() {
  TWorker::Execute();
  edicom::ScopedApartment apartment;
  try {
    CreateDB();
    FProgressMsg = "Loading file...";
    DoProgress();
    TLineReader reader(FFilename);
    // Whatever ends the loop, the line source lets go of the reader before it goes.
    struct EndSource {
      TLineSource* Source;
      ~EndSource() {
        if (Source) Source->End();
      }
    } endSource{LineSource};
    const std::size_t total = reader.CountLines();
    const std::int32_t count = total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(total);
    FProgressMsg = "Validation in progress...";
    FProgressMin = 0;
    FProgressMax = count;
    DoProgress();
    if (LineSource) LineSource->Begin(reader, static_cast<std::size_t>(count));
    std::string line;
    TLineOutcome outcome;
    for (std::int32_t i = 0; i < count; ++i) {
      auto reportLine = [&] {
        FProgressMsg = common::Fmt("Validation in progress...%d/%d...", i + 1, count);
        FProgressPos = i;
        DoProgress();
      };
      bool reported = true;
      if (ProgressInterval.count() != 0) {
        const auto now = std::chrono::steady_clock::now();
        reported = i == 0 || i + 1 == count || now - FLastProgress >= ProgressInterval;
        if (reported) FLastProgress = now;
      }
      if (reported) reportLine();
      bool got = LineSource ? LineSource->Next(line, outcome) : reader.ReadLine(line);
      if (!got) throw ELineReaderError(common::Fmt("Cannot read file \"%s\" (changed while reading)", FFilename));
      try {
        if (LineSource)
          SaveLineOutcome(line, outcome);
        else
          ValidateLine(line);
      } catch (const EStorageError&) {
        throw;
      } catch (const std::exception& e) {
        // The question about a line comes with that line's progress, coalesced or not.
        if (!reported) reportLine();
        FErrorMsg = e.what();
        DoError();
        if (FCancel) break;
      }
    }
  } catch (const EStorageError& e) {
    FStorageFailed = true;
    FLastError = e.what();
  } catch (const std::exception& e) {
    FLastError = e.what();
  }
  // However the run ended, the messages of the open group are kept.
  try {
    CommitGroup();
  } catch (const EStorageError& e) {
    if (FLastError.empty()) {
      FLastError = e.what();
      FStorageFailed = true;
    }
  }
  FDatabase.reset();
}

}  // namespace verimek
