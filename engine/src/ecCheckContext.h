// What a segment check may ask of the validation it runs in, and where it records its finding.
// The validator implements it; the checkers know nothing else of the validator.
#pragma once

#include <cstddef>
#include <string>

#include "ecErrors.h"
#include "ecTelebib.h"

namespace ruvala {

// A pending code-list check: carries over between segments of one tag within a validation.
struct TCheckNext {
  bool Active = false;
  std::string Code;
};

class TCheckContext {
 public:
  virtual TDate MessageDate() const = 0;
  virtual bool FilterMode() const = 0;
  virtual bool InterApplication() const = 0;
  // The insurer code of the group for its direction, "?" when the direction names none.
  virtual std::string GetOca() const = 0;
  virtual void SetGroupParties(const std::string& x921, const std::string& x923, const std::string& x925) = 0;
  virtual const std::string& X925() const = 0;
  virtual int& XehCount() = 0;
  // The group's unit lists: entry i, the last one when i is negative.
  virtual std::string GetX912(int i) const = 0;
  virtual std::string GetX916(int i) const = 0;
  virtual void SetX912(int i, const std::string& value) = 0;
  virtual void SetX916(int i, const std::string& value) = 0;
  // The pending code-list check of the checker at that place in the referential.
  virtual TCheckNext& CheckNext(std::size_t checker) = 0;
  // The first finding of the segment being checked; the check stops there.
  virtual void RecordFinding(bool warning, TErrorCode code) = 0;

 protected:
  ~TCheckContext() = default;
};

}  // namespace ruvala
