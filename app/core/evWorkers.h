// The validation workers: one job each on a thread of its own, reporting to the user-interface
// thread through steps that run there while the worker waits. The thread and the step runner
// are supplied by a host, so the desktop program binds them to its event loop and the command
// line to plain calls.
#pragma once

#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>
#include <ruvala/Ruvala.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SysSqlite.h"

namespace verimek {

class TLineReader;

/// Where a worker's job runs and how it reaches the user-interface thread.
class TWorkerHost {
 public:
  virtual ~TWorkerHost() = default;
  /// Runs job on a thread of its own. A host without threads may run it before returning.
  virtual void StartThread(std::function<void()> job) = 0;
  /// Runs step on the user-interface thread and returns once it has run. An exception of step
  /// is raised again here, on the calling thread: a failing error handler ends the job.
  virtual void RunOnUiThread(const std::function<void()>& step) = 0;
};

/// Plain calls: the job runs inside StartThread, the steps on the job's own thread.
class TDirectWorkerHost final : public TWorkerHost {
 public:
  void StartThread(std::function<void()> job) override { job(); }
  void RunOnUiThread(const std::function<void()>& step) override { step(); }
};

/// How a worker gets its engine document and parser message; by class id unless replaced.
struct TComponentFactory {
  std::function<edicom::ComPtr<ruvala::IEdiDocument>()> CreateDocument;
  std::function<edicom::ComPtr<kalvix::IEdiMessage>()> CreateMessage;
  /// CoCreateInstance of EdiDocument and EdiMessage; a failure raises with the error text.
  static TComponentFactory ByClassId();
};

/// Raises with the call's error information (or the result code) when hr is a failure.
void CheckHr(edicom::HRESULT hr, const char* call);

/// Days since 30 December 1899 of the local date today, without time.
edicom::DATE TodayDate();
/// The date of "YYYY-MM-DD"; false when it is not a valid date.
bool ParseIsoDate(const std::string& text, edicom::DATE& date);

class TWorker {
 public:
  /// Creates the engine document and the parser message on the calling thread.
  TWorker(TWorkerHost& AHost, const TComponentFactory& AFactory);
  virtual ~TWorker();
  TWorker(const TWorker&) = delete;
  TWorker& operator=(const TWorker&) = delete;

  /// Starts the job. Set the handlers before: they may run before Start returns. With
  /// FreeOnTerminate the worker deletes itself right after OnTerminate has run.
  void Start();

  bool FreeOnTerminate = false;
  /// Runs on the user-interface thread when the job has ended.
  std::function<void(TWorker&)> OnTerminate;

  const std::string& LastError() const { return FLastError; }
  ruvala::IEdiDocument* EdiDocument() const { return FEdiDocument.Get(); }
  kalvix::IEdiMessage* EdiMessage() const { return FEdiMessage.Get(); }

 protected:
  /// Writes "Execute()"; every job calls it first.
  virtual void Execute();
  void Synchronize(const std::function<void()>& step) { FHost.RunOnUiThread(step); }

  std::string FLastError;

 private:
  void Run();

  TWorkerHost& FHost;
  edicom::ComPtr<ruvala::IEdiDocument> FEdiDocument;
  edicom::ComPtr<kalvix::IEdiMessage> FEdiMessage;
};

/// Validates the edited message, unindented first.
class TValidateMsgWorker : public TWorker {
 public:
  TValidateMsgWorker(TWorkerHost& AHost, const TComponentFactory& AFactory, const std::string& AnEdiMessage);
  std::function<void(TWorker&)> OnValidateDone;
  edicom::DATE MessageDate;

 protected:
  void Execute() override;

 private:
  std::string FEdiMessageText;
};

/// Parses the edited text as shown, for its syntax errors.
class TValidateSyntaxWorker : public TWorker {
 public:
  TValidateSyntaxWorker(TWorkerHost& AHost, const TComponentFactory& AFactory, const std::string& AnEdiMessage);
  std::function<void(TWorker&)> OnValidateDone;

 protected:
  void Execute() override;

 private:
  std::string FEdiMessageText;
};

/// Asks the engine for its referential at start-up.
class TReferentialNameWorker : public TWorker {
 public:
  using TWorker::TWorker;
  const std::string& ReferentialFilename() const { return FReferentialFilename; }

 protected:
  void Execute() override;

 private:
  std::string FReferentialFilename;
};

/// One finding as the engine reported it.
struct TFinding {
  std::int32_t SegmentNo = 0;
  std::string SegmentKey;
  std::string Code;
  std::string Message;
};

/// Counts and findings of one validated message.
struct TMessageFindings {
  std::int32_t ErrorCount = 0;
  std::int32_t WarningCount = 0;
  std::vector<TFinding> Errors;
  std::vector<TFinding> Warnings;
};

/// Settings made on the document before every validation.
struct TValidationSettings {
  edicom::DATE MessageDate = 0;
  bool CheckFilter = true;
  bool InterApplication = false;
};

/// The counts and every finding of the document's last validation.
TMessageFindings ReadFindings(ruvala::IEdiDocument* doc);

/// Sets the settings, validates Text and reads the counts and every finding.
TMessageFindings ValidateMessage(ruvala::IEdiDocument* doc, const TValidationSettings& settings,
                                 const std::string& Text);

/// One line as the engine saw it: the messages validated in order (Piece empty when the line
/// itself is the message) and the failure that ended the line, if any.
struct TLineOutcome {
  struct TMessage {
    std::string Piece;
    bool IsPiece = false;
    TMessageFindings Findings;
    std::string Body;  // CompressAndEncode of the message text when made where it was validated; else empty
  };
  std::vector<TMessage> Messages;
  bool Failed = false;
  std::string Error;
};

/// Validates a line as ValidateLine does, calling onMessage after each message; an exception
/// of onMessage ends the line. Used by the file worker and by validation in other processes.
void ValidateLineMessages(
    ruvala::IEdiDocument* doc, const TValidationSettings& settings, const std::string& Line,
    const std::function<void(int XehId, const std::string* Piece, const TMessageFindings& findings)>& onMessage);

/// The outcome of one line, bodies encoded when EncodeBodies; a failure is recorded, not raised.
TLineOutcome ValidateLineOutcome(ruvala::IEdiDocument* doc, const TValidationSettings& settings,
                                 const std::string& Line, bool EncodeBodies);

/// Supplies line outcomes validated elsewhere, in input order, reading ahead in reader.
class TLineSource {
 public:
  virtual ~TLineSource() = default;
  virtual void Begin(TLineReader& reader, std::size_t count) = 0;
  /// The next line and its outcome; false when there is none.
  virtual bool Next(std::string& line, TLineOutcome& outcome) = 0;
  /// Stops reading ahead: the reader given to Begin is about to go.
  virtual void End() = 0;
};

/// Validates ahead of the file worker on a thread of its own with the worker's document, so
/// that validating the next lines overlaps storing the last. The worker still stores, reports
/// and stops line by line; lines validated ahead of a stop are dropped. The bodies are encoded
/// on the storing side while it keeps up, and ahead when it falls behind.
class TReadAheadLineSource final : public TLineSource {
 public:
  TReadAheadLineSource(ruvala::IEdiDocument* doc, const TValidationSettings& settings);
  ~TReadAheadLineSource() override;
  void Begin(TLineReader& reader, std::size_t count) override;
  bool Next(std::string& line, TLineOutcome& outcome) override;
  void End() override;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

/// The results database could not store a message (full disk, I/O error): the run ends there,
/// since every further line would fail the same way.
class EStorageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The rows of one message as the file worker stores them.
struct TStoredMessage {
  int XehId = 0;
  std::string X921, X923, X925, X916;
  std::int64_t X912 = 0;
  TMessageFindings Findings;
  std::string Body;
};

/// Validates every line of a file into a results database.
class TValidateFileWorker : public TWorker {
 public:
  using TDatabaseFactory = std::function<std::unique_ptr<TDatabase>(const std::string& name)>;
  using TWorkerProgressEvent = std::function<void(TWorker& Sender, const std::string& Msg, int Min, int Max, int Pos)>;
  using TWorkerErrorEvent = std::function<void(TWorker& Sender, const std::string& Msg, bool& Cancel)>;

  TValidateFileWorker(TWorkerHost& AHost, const TComponentFactory& AFactory, const std::string& AFilename,
                      const std::string& ADBName);
  ~TValidateFileWorker() override;

  TWorkerProgressEvent OnProgress;
  TWorkerErrorEvent OnError;
  TValidationSettings Settings;
  /// Opens the results database; a plain TDatabase with creation allowed unless replaced.
  TDatabaseFactory DatabaseFactory;
  /// Lines validated elsewhere (other processes); the worker's own document when null.
  TLineSource* LineSource = nullptr;
  /// True when the run ended because storing failed; what was stored before stays.
  bool StorageFailed() const { return FStorageFailed; }
  /// Messages stored so far, each counted once its group is committed: what a rolled-back
  /// message left out is not counted. May be read from any thread.
  std::size_t StoredMessages() const { return FStoredMessages.load(std::memory_order_relaxed); }

  /// Messages are stored in groups, one transaction each, every message inside a savepoint of
  /// its own so that a failing one rolls back alone: a group is committed once it holds
  /// GroupMessages messages or is GroupTime old when a message is stored, and at the end of
  /// the run. A crash loses at most the open group; the file keeps only whole messages.
  static constexpr std::size_t kGroupMessages = 256;
  static constexpr std::chrono::milliseconds kGroupTime{100};
  /// With an interval, the progress of the lines reaches OnProgress at most once per interval
  /// (the first and the last line always): each report waits for the user-interface thread,
  /// which costs a run more than the screen gains. Zero reports every line.
  std::chrono::steady_clock::duration ProgressInterval{};
  std::size_t GroupMessages = kGroupMessages;
  std::chrono::steady_clock::duration GroupTime = kGroupTime;

 protected:
  void Execute() override;
  void CreateDB();
  void ValidateLine(const std::string& Line);
  void SaveMessageResult(const std::string& Line, int XehId, const std::string* Piece, const TMessageFindings& findings,
                         const std::string* Body = nullptr);
  void SaveLineOutcome(const std::string& Line, const TLineOutcome& outcome);
  /// Commits the open group, if any; a failure loses the group and raises EStorageError.
  void CommitGroup();
  /// Writes the messages of the group again in a new transaction, after SQLite ended the last.
  void ReplayGroup();
  void InsertMessageRows(const TStoredMessage& m);
  void DoProgress();
  void DoError();

  std::string FFilename;
  std::string FDbName;
  std::unique_ptr<TDatabase> FDatabase;
  std::string FErrorMsg;
  bool FCancel = false;
  bool FStorageFailed = false;
  std::atomic<std::size_t> FStoredMessages{0};
  std::vector<TStoredMessage> FGroup;  // stored in the open transaction, not yet committed
  std::chrono::steady_clock::time_point FGroupStart;
  std::string FProgressMsg;
  std::int32_t FProgressMin = 0, FProgressMax = 0, FProgressPos = 0;
  std::chrono::steady_clock::time_point FLastProgress{};
};

}  // namespace verimek
